#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <random>
#include <system_error>

namespace qmtest {

namespace fs = std::filesystem;

namespace {

// The running test's name, made safe for a file name, so that a folder left
// behind by a crashed test says whose it was.
std::string TestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "setup";
  std::string name = std::string(info->test_suite_name()) + "-" + info->name();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
  return name.substr(0, 80);
}

}  // namespace

TTempDir::TTempDir() {
  static std::atomic<unsigned> counter{0};
  const std::string leaf = "quellmark-" + TestName() + "-" + std::to_string(::getpid()) + "-" +
                           std::to_string(counter++) + "-" + std::to_string(std::random_device{}());
  FPath = fs::temp_directory_path() / leaf;
  fs::create_directories(FPath);
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // A test may have taken the write or search bit off a folder inside; give
  // them back so that everything can be removed.
  fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(FPath, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(FPath, ec);
}

}  // namespace qmtest
