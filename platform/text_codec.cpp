#include "platform/text_codec.h"

#include <array>
#include <cstdint>

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// 0x80..0x9F of Windows-1252; everything else is the Latin-1 code point.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The byte for one code point, or '?' when Windows-1252 has none.
char CodePointToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  return '?';
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (cp >> 10));
    out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
  }
}

// Decodes the code point at text[pos] and advances pos. A malformed sequence
// (stray continuation byte, overlong form, surrogate, value above U+10FFFF,
// truncated sequence) yields U+FFFD and consumes only its valid prefix, so the
// next lead byte is never swallowed.
char32_t NextUtf8(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos++]);
  if (lead < 0x80) return lead;
  int extra;
  char32_t cp;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return kReplacement;
  }
  for (int i = 0; i < extra; ++i) {
    if (pos >= text.size()) return kReplacement;
    const auto next = static_cast<unsigned char>(text[pos]);
    if ((next & 0xC0) != 0x80) return kReplacement;
    const char32_t value = (cp << 6) | (next & 0x3F);
    // Overlong, surrogate and out-of-range forms show in the first
    // continuation byte; it is then left for the next call, so each bad
    // byte becomes one replacement.
    if (i == 0) {
      const char32_t bound = value << (6 * (extra - 1));
      if (bound < min || bound > 0x10FFFF || (bound >= 0xD800 && bound <= 0xDFFF)) return kReplacement;
    }
    cp = value;
    ++pos;
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

// Decodes the code point at text[pos] and advances pos; an unpaired
// surrogate yields U+FFFD.
char32_t NextUtf16(std::u16string_view text, std::size_t& pos) {
  const char16_t unit = text[pos++];
  if (unit < 0xD800 || unit > 0xDFFF) return unit;
  if (unit >= 0xDC00 || pos >= text.size()) return kReplacement;
  const char16_t low = text[pos];
  if (low < 0xDC00 || low > 0xDFFF) return kReplacement;
  ++pos;
  return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace

char16_t Cp1252ToChar16(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
  return byte;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) AppendUtf16(out, NextUtf8(text, pos));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) AppendUtf8(out, NextUtf16(text, pos));
  return out;
}

std::string Utf16ToCp1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) out += CodePointToCp1252(NextUtf16(text, pos));
  return out;
}

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (const char c : text) out += Cp1252ToChar16(static_cast<unsigned char>(c));
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) out += CodePointToCp1252(NextUtf8(text, pos));
  return out;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) AppendUtf8(out, Cp1252ToChar16(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace platform
