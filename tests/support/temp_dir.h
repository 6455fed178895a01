// A fresh folder under the system's temporary folder, removed with
// everything in it when the object goes (also after a test made parts of it
// unreadable or unwritable).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qmtest {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::string Str() const { return FPath.string(); }
  std::filesystem::path operator/(std::string_view name) const { return FPath / name; }

 private:
  std::filesystem::path FPath;
};

}  // namespace qmtest
