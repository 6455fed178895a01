#include "tags/au_tags.h"

#include <algorithm>
#include <limits>

#include "platform/text_codec.h"

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

int CompareKeys(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
    const auto cb = static_cast<unsigned char>(LowerAscii(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The whole text as a decimal integer (leading blanks and a sign allowed),
// or 0 when it is anything else or does not fit.
template <typename Char>
std::int64_t ParseInteger(std::basic_string_view<Char> text) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == Char(' ')) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == Char('-') || text[pos] == Char('+'))) {
    negative = text[pos] == Char('-');
    ++pos;
  }
  if (pos == text.size()) return 0;
  std::uint64_t magnitude = 0;
  const std::uint64_t limit = negative ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1
                                       : std::uint64_t(std::numeric_limits<std::int64_t>::max());
  for (; pos < text.size(); ++pos) {
    const Char c = text[pos];
    if (c < Char('0') || c > Char('9')) return 0;
    const auto digit = static_cast<std::uint64_t>(c - Char('0'));
    if (magnitude > (limit - digit) / 10) return 0;
    magnitude = magnitude * 10 + digit;
  }
  if (negative) return magnitude == limit ? std::numeric_limits<std::int64_t>::min() : -std::int64_t(magnitude);
  return static_cast<std::int64_t>(magnitude);
}

}  // namespace

std::size_t TAuTags::LowerBound(std::string_view Key) const {
  const auto it = std::lower_bound(Values.begin(), Values.end(), Key,
                                   [](const auto& entry, std::string_view key) { return CompareKeys(entry.first, key) < 0; });
  return static_cast<std::size_t>(it - Values.begin());
}

std::size_t TAuTags::IndexOf(std::string_view Key) const {
  const std::size_t i = LowerBound(Key);
  return i < Values.size() && CompareKeys(Values[i].first, Key) == 0 ? i : Values.size();
}

std::string TAuTags::KeyAt(int Index) const {
  if (Index < 0 || Index >= Count()) return {};
  return Values[static_cast<std::size_t>(Index)].first;
}

TagValue TAuTags::GetValue(std::string_view Key) const {
  const std::size_t i = IndexOf(Key);
  return i < Values.size() ? Values[i].second : TagValue();
}

void TAuTags::SetValue(std::string_view Key, const TagValue& Value) {
  const std::size_t i = IndexOf(Key);
  if (i == Values.size() || Values[i].second == Value) return;
  Values[i].second = Value;
  FEmpty = false;
}

std::int64_t TAuTags::GetInteger(std::string_view Key) const {
  const TagValue value = GetValue(Key);
  switch (value.Kind()) {
    case TagValue::TKind::Integer: return value.AsInteger();
    case TagValue::TKind::Narrow: return ParseInteger(std::string_view(value.AsNarrow()));
    case TagValue::TKind::Wide: return ParseInteger(std::u16string_view(value.AsWide()));
    case TagValue::TKind::Null: break;
  }
  return 0;
}

std::string TAuTags::GetString(std::string_view Key) const {
  const TagValue value = GetValue(Key);
  switch (value.Kind()) {
    case TagValue::TKind::Integer: return std::to_string(value.AsInteger());
    case TagValue::TKind::Narrow: return value.AsNarrow();
    case TagValue::TKind::Wide: return platform::Utf16ToCp1252(value.AsWide());
    case TagValue::TKind::Null: break;
  }
  return {};
}

std::u16string TAuTags::GetWideString(std::string_view Key) const {
  const TagValue value = GetValue(Key);
  switch (value.Kind()) {
    case TagValue::TKind::Integer: return platform::Cp1252ToUtf16(std::to_string(value.AsInteger()));
    case TagValue::TKind::Narrow: return platform::Cp1252ToUtf16(value.AsNarrow());
    case TagValue::TKind::Wide: return value.AsWide();
    case TagValue::TKind::Null: break;
  }
  return {};
}

bool TAuTags::AddKey(std::string_view Key, const TagValue& Initial) {
  if (Key.empty()) return false;
  if (IndexOf(Key) < Values.size()) return true;
  const std::size_t i = LowerBound(Key);
  Values.emplace(Values.begin() + static_cast<std::ptrdiff_t>(i), std::string(Key), Initial);
  return true;
}

void TAuTags::Clear() {
  for (auto& entry : Values) entry.second = TagValue();
  FEmpty = true;
}

void TAuTags::Assign(const TPersistent* Source) {
  const auto* tags = dynamic_cast<const TAuTags*>(Source);
  if (tags == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  if (tags == this) return;
  Clear();
  for (int i = 0; i < tags->Count(); ++i) {
    const std::string key = tags->KeyAt(i);
    SetValue(key, tags->GetValue(key));
  }
}

void TAuTags::AssignTo(TPersistent* Dest) const {
  auto* tags = dynamic_cast<TAuTags*>(Dest);
  if (tags == nullptr) {
    TPersistent::AssignTo(Dest);
    return;
  }
  tags->Assign(this);
}

bool TAuTags::HasTag(int FileHandle) { return FileHandle != kInvalidFileHandle; }

bool TAuTags::ReadFromFile(int FileHandle) {
  if (FileHandle == kInvalidFileHandle) return false;
  Clear();
  return true;
}

bool TAuTags::WriteToFile(int FileHandle, bool Unicode) { return FileHandle != kInvalidFileHandle; }
