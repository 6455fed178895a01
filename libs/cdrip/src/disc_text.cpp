#include "disc_text.h"

#include <algorithm>

namespace cdrip {

namespace {

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not valid
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return 1;
  std::size_t len = 0;
  uint32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = Utf8SequenceLength(s, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// libcdio reads cue sheets and .toc files as ISO-8859-1, so a sheet written
// in UTF-8 comes back encoded twice. Text whose characters all fit in one
// byte and whose bytes then form UTF-8 beyond ASCII is taken back once;
// ISO-8859-1 text from a disc almost never forms such sequences.
std::string UndoDoubleEncoding(const std::string& text) {
  std::string bytes;
  bool high = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = Utf8SequenceLength(text, i);
    const auto c = static_cast<unsigned char>(text[i]);
    if (len == 1) {
      bytes += text[i];
    } else if (len == 2 && c <= 0xC3) {
      bytes += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      high = true;
    } else {
      return text;
    }
    i += len;
  }
  return high && IsValidUtf8(bytes) ? bytes : text;
}

}  // namespace

std::string CleanTextValue(std::string_view raw) {
  std::string text = IsValidUtf8(raw) ? UndoDoubleEncoding(std::string(raw)) : Latin1ToUtf8(raw);
  std::string out;
  out.reserve(std::min(text.size(), kMaxTextValueBytes));
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = Utf8SequenceLength(text, i);
    if (out.size() + len > kMaxTextValueBytes) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (len == 1 && (c < 0x20 || c == 0x7F)) {
      out += ' ';
    } else {
      out.append(text, i, len);
    }
    i += len;
  }
  const std::size_t begin = out.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  const std::size_t last = out.find_last_not_of(' ');
  return out.substr(begin, last - begin + 1);
}

void AppendTextRecord(std::vector<uint8_t>& block, int track, int field, std::string_view value) {
  block.push_back(static_cast<uint8_t>(track));
  block.push_back(static_cast<uint8_t>(field));
  block.insert(block.end(), value.begin(), value.end());
  block.push_back(0);
}

CR_ERR CheckRipRange(const std::vector<CR_TOCENTRY>& toc, int32_t first, int32_t end) {
  if (toc.size() < 2) return CR_ERR_NO_TOC;
  if (first < 0 || end < first || first < toc.front().dwStartSector) return CR_ERR_RANGE;
  if (first == end) return CR_OK;
  // Every track the range touches must be audio; a track runs from its start
  // to the start of the next entry. A table whose starts go backwards (a
  // damaged disc, a hostile image) gives such a track no sectors.
  const std::size_t tracks = toc.size() - 1;
  for (std::size_t i = 0; i < tracks; ++i) {
    const int64_t start = toc[i].dwStartSector;
    const int64_t next = toc[i + 1].dwStartSector;
    if (next <= start) continue;
    const bool overlaps = start < end && first < next;
    if (overlaps && (toc[i].btFlag & CR_FLAG_DATA) != 0) return CR_ERR_DATA_TRACK;
  }
  return CR_OK;
}

}  // namespace cdrip
