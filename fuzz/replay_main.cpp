// Runs a fuzz target's body once on each file given, or on each file of each
// folder given (in name order, dot files left out): the corpus and the
// regression inputs of a target replayed as a plain program, built with any
// compiler and run under ctest, also in the sanitizer builds. An input that
// crashes or hangs fails the test as it would fail the fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

namespace {

bool Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
  // A copy the size of the input, so that a read past its end is caught by
  // the address sanitizer as the fuzzer would catch it.
  std::vector<uint8_t> exact(bytes);
  LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  int replayed = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(arg, ec))
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.') files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        ok = Replay(file) && ok;
        ++replayed;
      }
    } else if (fs::is_regular_file(arg, ec)) {
      ok = Replay(arg) && ok;
      ++replayed;
    } else {
      std::fprintf(stderr, "no such file or folder: %s\n", arg.c_str());
      ok = false;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return ok ? 0 : 1;
}
