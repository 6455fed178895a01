#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "pipeline/output_names.h"

namespace qmtest {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& file, std::string_view text) {
  std::error_code ec;
  if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  EXPECT_TRUE(out.good()) << "could not write " << file;
}

void WriteFile(const fs::path& file, const std::vector<uint8_t>& bytes) {
  WriteText(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<std::filesystem::path> TemporaryOutputs(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (output_names::IsTemporaryName(entry.path())) found.push_back(entry.path());
  }
  return found;
}

}  // namespace qmtest
