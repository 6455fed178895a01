// quellmark: the window of Quellmark Audio Converter.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <QApplication>
#include <QTimer>

#include "app/main_window.h"
#include "platform/fp_control.h"

#ifndef QUELLMARK_APP_ID
#define QUELLMARK_APP_ID "quellmark"
#endif

namespace {

constexpr const char* kUsage =
    "usage: quellmark [--help] [--version] [FILE|FOLDER]...\n"
    "\n"
    "Opens the window of Quellmark Audio Converter. The files and folders named\n"
    "are listed as if they were dropped on the list (folders with their\n"
    "subfolders unless the setting subdirs is 0).\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n";

}  // namespace

int main(int argc, char* argv[]) {
  // These two need no display, so they are answered before Qt starts.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("quellmark %s\n", kAppVersion);
      return 0;
    }
  }

  // Codec libraries must never raise floating-point exceptions in here.
  platform::MaskFloatingPointExceptions();
  QApplication app(argc, argv);
  QApplication::setApplicationName("quellmark");
  QApplication::setApplicationVersion(kAppVersion);
  // Ties the window to its desktop entry (its icon and name on Wayland).
  QGuiApplication::setDesktopFileName(QUELLMARK_APP_ID);

  // Qt took its own options out of argv; the rest are paths, kept as bytes.
  std::vector<std::string> paths;
  bool onlyPaths = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!onlyPaths && arg == "--") {
      onlyPaths = true;
    } else if (!onlyPaths && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "quellmark: unknown option %s\n", arg.c_str());
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      paths.push_back(arg);
    }
  }

  TForm1 form;
  form.show();
  // Listed once the window is up, so its errors have a window to show on.
  if (!paths.empty()) QTimer::singleShot(0, &form, [&form, paths] { form.OpenPaths(paths); });
  return app.exec();
}
