#include "tags/id3v2_tags.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/text_codec.h"
#include "tags/tag_file_io.h"

const std::array<const char*, kId3v2FrameCount> kId3v2FrameIdsV2 = {
    "TAL", "TP1", "TCO", "TT2", "TRK", "TYE", "COM", "TCM", "TEN", "TCR", "TLA", "WXX",
};
const std::array<const char*, kId3v2FrameCount> kId3v2FrameIdsV3 = {
    "TALB", "TPE1", "TCON", "TIT2", "TRCK", "TYER", "COMM", "TCOM", "TENC", "TCOP", "TLAN", "WXXX",
};

namespace {

constexpr unsigned char kEncodingLatin1 = 0;
constexpr unsigned char kEncodingUtf16 = 1;
constexpr unsigned char kEncodingUtf8 = 3;
constexpr unsigned char kFooterFlag = 0x10;
constexpr std::uint32_t kSyncSafeMax = 0x0FFFFFFF;
constexpr std::size_t kTagAlignment = 16;

bool IsUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
bool IsIdChar(unsigned char c) { return IsUpper(c) || (c >= '0' && c <= '9'); }

std::uint32_t BigEndian(const unsigned char* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

bool IsSyncSafe(const unsigned char* p) { return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0; }

std::uint32_t SyncSafe(const unsigned char* p) {
  return (std::uint32_t(p[0]) << 21) | (std::uint32_t(p[1]) << 14) | (std::uint32_t(p[2]) << 7) | p[3];
}

void PutSyncSafe(unsigned char* p, std::uint32_t value) {
  p[0] = static_cast<unsigned char>((value >> 21) & 0x7F);
  p[1] = static_cast<unsigned char>((value >> 14) & 0x7F);
  p[2] = static_cast<unsigned char>((value >> 7) & 0x7F);
  p[3] = static_cast<unsigned char>(value & 0x7F);
}

// Whether a frame ending at `next` is followed by something a tag may hold
// there: the end of the frames, padding, or another frame header.
bool LandsWell(const tagio::TFileRange& body, std::size_t framesLength, std::size_t next) {
  if (next == body.Length() || next == framesLength) return true;
  unsigned char id[4] = {};
  if (!body.Read(next, id, 1)) return false;
  if (id[0] == 0) return true;
  return body.Read(next, id, 4) && IsUpper(id[0]) && IsIdChar(id[1]) && IsIdChar(id[2]) && IsIdChar(id[3]);
}

// Version-4 frame sizes are sync-safe, but some writers store plain 32-bit
// integers there. The sync-safe reading wins unless it leads nowhere
// sensible; both agree below 128 bytes.
std::uint32_t Version4FrameSize(const tagio::TFileRange& body, std::size_t framesLength, std::size_t pos,
                                const unsigned char* raw) {
  const std::uint32_t plain = BigEndian(raw, 4);
  if (!IsSyncSafe(raw)) return plain;
  const std::uint32_t syncSafe = SyncSafe(raw);
  if (syncSafe == plain || LandsWell(body, framesLength, pos + kId3v2HeaderSize + syncSafe)) return syncSafe;
  return plain;
}

// Text up to the first zero byte.
std::string_view NarrowText(const unsigned char* p, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(p), size);
  return text.substr(0, text.find('\0'));
}

// UTF-16 up to the first zero code unit. A byte-order mark selects the byte
// order; text without one is little-endian.
std::u16string Utf16Text(const unsigned char* p, std::size_t size, std::size_t* consumed = nullptr) {
  bool bigEndian = false;
  std::size_t pos = 0;
  if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    pos = 2;
  } else if (size >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    pos = 2, bigEndian = true;
  }
  std::u16string text;
  for (; pos + 1 < size; pos += 2) {
    const auto unit = static_cast<char16_t>(bigEndian ? (p[pos] << 8) | p[pos + 1] : p[pos] | (p[pos + 1] << 8));
    if (unit == 0) {
      pos += 2;
      break;
    }
    text += unit;
  }
  if (consumed != nullptr) *consumed = std::min(pos, size);
  return text;
}

// The value of a text frame's content by its encoding byte; null for an
// encoding this reader does not take.
TagValue TextValue(const unsigned char* content, std::size_t size, std::size_t* consumed = nullptr) {
  if (size == 0) return {};
  const unsigned char* text = content + 1;
  const std::size_t length = size - 1;
  std::string_view narrow;
  switch (content[0]) {
    case kEncodingLatin1:
      narrow = NarrowText(text, length);
      if (consumed != nullptr) *consumed = 1 + std::min(length, narrow.size() + 1);
      return std::string(narrow);
    case kEncodingUtf16: {
      std::size_t used = 0;
      std::u16string wide = Utf16Text(text, length, &used);
      if (consumed != nullptr) *consumed = 1 + used;
      return wide;
    }
    case kEncodingUtf8:
      narrow = NarrowText(text, length);
      if (consumed != nullptr) *consumed = 1 + std::min(length, narrow.size() + 1);
      return platform::Utf8ToUtf16(narrow);
    default:
      return {};
  }
}

void AppendFrame(std::vector<unsigned char>& frames, const char* id, unsigned char encoding, std::string_view prefix,
                 std::string_view text) {
  const std::size_t size = 1 + prefix.size() + text.size();
  unsigned char header[kId3v2HeaderSize] = {};
  std::memcpy(header, id, 4);
  PutSyncSafe(header + 4, static_cast<std::uint32_t>(size));
  frames.insert(frames.end(), header, header + sizeof header);
  frames.push_back(encoding);
  frames.insert(frames.end(), prefix.begin(), prefix.end());
  frames.insert(frames.end(), text.begin(), text.end());
}

}  // namespace

TId3v2Tags::TId3v2Tags() {
  for (const char* id : kId3v2FrameIdsV2) AddKey(id);
  for (const char* id : kId3v2FrameIdsV3) AddKey(id);
}

std::string TId3v2Tags::FrameId(TFrameIndex Index) const {
  return FNewFrameIds ? kId3v2FrameIdsV3[Index] : kId3v2FrameIdsV2[Index];
}

std::optional<std::int64_t> TId3v2Tags::TagLength(const std::array<unsigned char, kId3v2HeaderSize>& Header) {
  if (std::memcmp(Header.data(), "ID3", 3) != 0) return std::nullopt;
  const unsigned char version = Header[3];
  const unsigned char revision = Header[4];
  const unsigned char flags = Header[5];
  if (revision == 0xFF) return std::nullopt;
  const bool flagsValid = (version == 2 && (flags & 0x3F) == 0) || (version == 3 && (flags & 0x1F) == 0) ||
                          (version == 4 && (flags & 0x0F) == 0);
  if (!flagsValid || !IsSyncSafe(Header.data() + 6)) return std::nullopt;
  std::int64_t length = kId3v2HeaderSize + SyncSafe(Header.data() + 6);
  if ((flags & kFooterFlag) != 0) length += kId3v2FooterSize;
  return length;
}

bool TId3v2Tags::HasTag(int FileHandle) {
  if (!TAuTags::HasTag(FileHandle)) return false;
  const off_t saved = ::lseek(FileHandle, 0, SEEK_CUR);
  if (saved < 0) return false;
  std::array<unsigned char, kId3v2HeaderSize> header{};
  const bool read = tagio::ReadAll(FileHandle, header.data(), header.size()) == header.size();
  ::lseek(FileHandle, saved, SEEK_SET);
  return read && TagLength(header).has_value();
}

bool TId3v2Tags::ReadFromFile(int FileHandle) {
  if (!TAuTags::ReadFromFile(FileHandle)) return false;
  const off_t start = ::lseek(FileHandle, 0, SEEK_CUR);
  if (start < 0) return false;
  std::array<unsigned char, kId3v2HeaderSize> header{};
  if (tagio::ReadAll(FileHandle, header.data(), header.size()) != header.size()) return false;
  const std::optional<std::int64_t> length = TagLength(header);
  if (!length) return false;

  const int version = header[3];
  FNewFrameIds = version != 2;
  const std::int64_t end = start + *length;
  // Frames are read only when the file really holds the whole tag, so a
  // hostile size never makes a read or a buffer larger than the file.
  if (tagio::FileSize(FileHandle) >= end) {
    const std::size_t bodyLength = static_cast<std::size_t>(*length) - kId3v2HeaderSize;
    const std::size_t frames = (header[5] & kFooterFlag) != 0 ? bodyLength - kId3v2FooterSize : bodyLength;
    ParseFrames(version, tagio::TFileRange(FileHandle, start + static_cast<std::int64_t>(kId3v2HeaderSize), bodyLength), frames);
  }
  ::lseek(FileHandle, static_cast<off_t>(end), SEEK_SET);
  return true;
}

void TId3v2Tags::ParseFrames(int Version, const tagio::TFileRange& Body, std::size_t FramesLength) {
  const std::size_t headerSize = Version == 2 ? 6 : kId3v2HeaderSize;
  const std::size_t idLength = Version == 2 ? 3 : 4;
  const std::size_t length = Body.Length();
  unsigned char header[kId3v2HeaderSize];
  std::vector<unsigned char> content;
  std::size_t pos = 0;
  while (pos < length) {
    if (length - pos <= headerSize || !Body.Read(pos, header, headerSize) || !IsUpper(header[0])) break;
    std::uint32_t size;
    if (Version == 2) {
      size = BigEndian(header + 3, 3);
    } else if (Version == 3) {
      size = BigEndian(header + 4, 4);
    } else {
      size = Version4FrameSize(Body, FramesLength, pos, header + 4);
    }
    const std::string id(reinterpret_cast<const char*>(header), idLength);
    pos += headerSize;
    if (size == 0) continue;
    if (size > length - pos) break;
    // Only frames this container keeps are loaded; pictures and the like
    // are stepped over unread.
    const int index = FrameIndex(id);
    if (index >= 0 && index != fiComment) {
      content.resize(size);
      if (!Body.Read(pos, content.data(), size)) break;
      TakeFrame(id, content.data(), size);
    }
    pos += size;
  }
}

int TId3v2Tags::FrameIndex(std::string_view Id) const {
  const auto& ids = FNewFrameIds ? kId3v2FrameIdsV3 : kId3v2FrameIdsV2;
  for (int i = 0; i < kId3v2FrameCount; ++i)
    if (Id == ids[static_cast<std::size_t>(i)]) return i;
  return -1;
}

void TId3v2Tags::TakeFrame(std::string_view Id, const unsigned char* Content, std::size_t Size) {
  const int index = FrameIndex(Id);
  if (index < 0 || index == fiComment) return;

  std::size_t consumed = 0;
  TagValue value = TextValue(Content, Size, &consumed);
  if (index == fiLink && !value.IsNull() && consumed < Size) {
    // A user link frame holds a description and then the address itself,
    // always Latin-1. Tags that put the address into the description and
    // nothing after it still read as before.
    const std::string_view url = NarrowText(Content + consumed, Size - consumed);
    if (!url.empty()) value = std::string(url);
  }
  if (!value.IsNull()) SetValue(Id, value);
}

std::optional<std::vector<unsigned char>> TId3v2Tags::MakeTag(bool Unicode) const {
  std::vector<unsigned char> frames;
  for (int i = 0; i < kId3v2FrameCount; ++i) {
    if (i == fiComment) continue;
    const char* id = kId3v2FrameIdsV3[static_cast<std::size_t>(i)];
    const TagValue value = GetValue(id);
    unsigned char encoding = kEncodingLatin1;
    std::string text;
    if (Unicode && value.Kind() == TagValue::TKind::Wide) {
      encoding = kEncodingUtf8;
      text = platform::Utf16ToUtf8(value.AsWide());
    } else {
      text = GetString(id);
      // 0x80..0x9F are printable in Windows-1252 but control codes in
      // Latin-1, the only 8-bit encoding of ID3v2: such text goes as UTF-8.
      for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) < 0xA0) {
          encoding = kEncodingUtf8;
          break;
        }
      }
      if (encoding == kEncodingUtf8) text = platform::Cp1252ToUtf8(text);
    }
    if (text.empty()) continue;
    if (text.size() + 2 > kSyncSafeMax) return std::nullopt;
    if (i == fiLink) {
      // Empty description, then the address, which the format keeps in Latin-1.
      AppendFrame(frames, id, kEncodingLatin1, std::string_view("\0", 1), GetString(id));
    } else {
      AppendFrame(frames, id, encoding, {}, text);
    }
  }
  const std::size_t padding = kTagAlignment - (frames.size() + kId3v2HeaderSize) % kTagAlignment;
  const std::size_t bodySize = frames.size() + padding;
  if (bodySize > kSyncSafeMax) return std::nullopt;

  std::vector<unsigned char> tag(kId3v2HeaderSize, 0);
  std::memcpy(tag.data(), "ID3\x04\x00\x00", 6);
  PutSyncSafe(tag.data() + 6, static_cast<std::uint32_t>(bodySize));
  tag.insert(tag.end(), frames.begin(), frames.end());
  tag.resize(tag.size() + padding, 0);
  return tag;
}

bool TId3v2Tags::WriteToFile(int FileHandle, bool Unicode) {
  if (!TAuTags::WriteToFile(FileHandle, Unicode)) return false;
  const auto tag = MakeTag(Unicode);
  return tag && tagio::PrependToFile(FileHandle, tag->data(), tag->size());
}
