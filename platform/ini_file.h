// INI files with the semantics of the Windows profile functions: section and
// key names compared without regard to case, the value is the text after the
// first '=' with blanks trimmed (and one pair of enclosing quotes removed), a
// missing file, section or key gives the default. Writing a key replaces its
// line in place, or appends it to its section (creating the section and the
// file when absent), and keeps every other line as it was.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>
#include "platform/messages.h"

namespace platform {

class TIniFile {
 public:
  // Files larger than this are read only up to this many bytes: settings and
  // language files are a few kilobytes, and a hostile file must not make us
  // allocate without bound.
  static constexpr std::size_t kMaxFileBytes = 1u << 20;

  explicit TIniFile(std::filesystem::path path);

  const std::filesystem::path& FileName() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& def) const;
  // Decimal integer (optional sign); anything else, or a value outside the
  // 32-bit range, gives the default.
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  // Stored as an integer; any non-zero value means true.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  bool SectionExists(std::string_view section) const;

  // Each write is stored in the file at once; a failure raises
  // std::runtime_error with kMsgIniWriteError.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  // Parses the text of a whole file (exposed for the fuzz target and tests).
  void Parse(std::string_view text);

 private:
  // Index of the section header line, or npos; the section runs until the next
  // header.
  std::size_t FindSection(std::string_view section) const;
  std::size_t SectionEnd(std::size_t header) const;
  std::size_t FindKey(std::size_t header, std::string_view key) const;
  void Store() const;

  std::filesystem::path path_;
  std::vector<std::string> lines_;
  std::string eol_ = "\n";
  bool bom_ = false;
};

// Value parsing shared with the settings: strict decimal 32-bit integer.
bool ParseIniInteger(std::string_view text, int& out);

// The text as a decimal integer, or std::runtime_error with
// kFmtNotValidInteger.
int IniTextToInt(std::string_view text);

}  // namespace platform
