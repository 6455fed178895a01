// Conversions between the three text forms the engine meets: UTF-8 (file
// names, ID3v2 encoding 3, Vorbis comments), UTF-16 (wide tag text) and
// Windows-1252 (narrow tag text, the 8-bit code page of ID3v1 fields).
//
// Every function accepts arbitrary bytes. Malformed UTF-8 and unpaired UTF-16
// surrogates decode to U+FFFD; characters Windows-1252 cannot hold become "?".
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

std::string Utf16ToCp1252(std::u16string_view text);
std::u16string Cp1252ToUtf16(std::string_view text);

std::string Utf8ToCp1252(std::string_view text);
std::string Cp1252ToUtf8(std::string_view text);

// One Windows-1252 byte as a UTF-16 code unit. The five bytes the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of
// the same value, as Windows does, so narrow text always survives a round trip.
char16_t Cp1252ToChar16(unsigned char byte);

}  // namespace platform
