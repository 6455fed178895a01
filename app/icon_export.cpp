// quellmark_icon_export DIR ID SIZE...: writes the program's icon as
// DIR/<SIZE>x<SIZE>/apps/<ID>.png for each size, the layout of an icon theme.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/icons.h"

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: quellmark_icon_export DIR ID SIZE...\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  const std::string id = argv[2];
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0 || size > 1024) {
      std::fprintf(stderr, "quellmark_icon_export: bad size %s\n", argv[i]);
      return 2;
    }
    const std::string name = std::to_string(size) + "x" + std::to_string(size);
    const std::filesystem::path folder = dir / name / "apps";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path file = folder / (id + ".png");
    if (ec || !icons::ProgramImage(size).save(QString::fromStdString(file.string()), "PNG")) {
      std::fprintf(stderr, "quellmark_icon_export: cannot write %s\n", file.c_str());
      return 1;
    }
  }
  return 0;
}
