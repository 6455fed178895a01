// Whole-file reads and writes for the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qmtest {

std::vector<uint8_t> ReadFile(const std::filesystem::path& file);
std::string ReadText(const std::filesystem::path& file);
// Both create the parent folders first and fail the test when the write fails.
void WriteFile(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);
void WriteText(const std::filesystem::path& file, std::string_view text);
// The temporary output files (hidden, unfinished) in a folder, by name.
std::vector<std::filesystem::path> TemporaryOutputs(const std::filesystem::path& folder);

}  // namespace qmtest
