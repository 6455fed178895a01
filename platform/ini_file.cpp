#include "platform/ini_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace platform {

namespace {

constexpr std::string_view kBlanks = " \t\f\v";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The name of a "[name]" header line, or false when the line is no header.
// A header without its closing bracket runs to the end of the line, as the
// Windows functions read it.
bool HeaderName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  line.remove_prefix(1);
  const auto close = line.find(']');
  name = Trim(close == std::string_view::npos ? line : line.substr(0, close));
  return true;
}

// Splits "key = value"; lines without '=' and comment lines carry no key.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  if (!key.empty() && (key.front() == ';' || key.front() == '#')) return false;
  value = Trim(line.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return true;
}

// A value or key must stay on its own line: line breaks would inject keys.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  }
  return out;
}

}  // namespace

bool ParseIniInteger(std::string_view text, int& out) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  out = value;
  return true;
}

TIniFile::TIniFile(std::filesystem::path path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::string text;
  char chunk[16384];
  while (text.size() < kMaxFileBytes && in.read(chunk, sizeof chunk).gcount() > 0) {
    const auto got = static_cast<std::size_t>(in.gcount());
    text.append(chunk, std::min(got, kMaxFileBytes - text.size()));
  }
  Parse(text);
}

void TIniFile::Parse(std::string_view text) {
  lines_.clear();
  bom_ = text.substr(0, 3) == "\xEF\xBB\xBF";
  if (bom_) text.remove_prefix(3);
  eol_ = "\n";
  const auto firstNl = text.find('\n');
  if (firstNl != std::string_view::npos && firstNl > 0 && text[firstNl - 1] == '\r') eol_ = "\r\n";
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto nl = text.find_first_of("\r\n", pos);
    if (nl == std::string_view::npos) {
      lines_.emplace_back(text.substr(pos));
      break;
    }
    lines_.emplace_back(text.substr(pos, nl - pos));
    pos = nl + 1;
    if (text[nl] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
}

std::size_t TIniFile::FindSection(std::string_view section) const {
  section = Trim(section);
  std::string_view name;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (HeaderName(lines_[i], name) && EqualNoCase(name, section)) return i;
  }
  return std::string::npos;
}

std::size_t TIniFile::SectionEnd(std::size_t header) const {
  std::string_view name;
  std::size_t i = header + 1;
  while (i < lines_.size() && !HeaderName(lines_[i], name)) ++i;
  return i;
}

std::size_t TIniFile::FindKey(std::size_t header, std::string_view key) const {
  key = Trim(key);
  const std::size_t end = SectionEnd(header);
  std::string_view k, v;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (KeyValue(lines_[i], k, v) && EqualNoCase(k, key)) return i;
  }
  return std::string::npos;
}

bool TIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != std::string::npos;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& def) const {
  const auto header = FindSection(section);
  if (header == std::string::npos) return def;
  const auto at = FindKey(header, key);
  if (at == std::string::npos) return def;
  std::string_view k, v;
  KeyValue(lines_[at], k, v);
  return std::string(v);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  int value = def;
  if (!ParseIniInteger(ReadString(section, key, std::string()), value)) return def;
  return value;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string keyText = OneLine(Trim(key));
  const std::string line = keyText + "=" + OneLine(value);
  auto header = FindSection(section);
  if (header == std::string::npos) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + OneLine(Trim(section)) + "]");
    lines_.push_back(line);
  } else if (const auto at = FindKey(header, keyText); at != std::string::npos) {
    lines_[at] = line;
  } else {
    // After the section's last non-blank line, so blank separators stay
    // between sections.
    std::size_t insert = SectionEnd(header);
    while (insert > header + 1 && Trim(lines_[insert - 1]).empty()) --insert;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), line);
  }
  Store();
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::Store() const {
  std::string text;
  if (bom_) text = "\xEF\xBB\xBF";
  for (const auto& l : lines_) {
    text += l;
    text += eol_;
  }
  // Write a sibling file and rename it over the old one, so a failed write
  // (a full disk) never leaves the user with half a settings file.
  std::filesystem::path tmp = path_;
  tmp += ".tmp";
  bool stored = false;
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (out) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      out.close();
      std::error_code ec;
      if (out) {
        std::filesystem::rename(tmp, path_, ec);
        stored = !ec;
      }
      if (!stored) std::filesystem::remove(tmp, ec);
    }
  }
  if (!stored) {
    // A folder we may not create files in can still hold a writable file.
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    if (out) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      out.close();
      stored = static_cast<bool>(out);
    }
  }
  if (!stored) throw std::runtime_error(FormatMessage(kMsgIniWriteError, {path_.string()}));
}

int IniTextToInt(std::string_view text) {
  int value = 0;
  if (!ParseIniInteger(text, value)) throw std::runtime_error(FormatMessage(kFmtNotValidInteger, {text}));
  return value;
}

}  // namespace platform
