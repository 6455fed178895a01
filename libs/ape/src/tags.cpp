#include "tags.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace ape {

namespace {

constexpr char kApePreamble[8] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
constexpr uint32_t kApeVersion = 2000;
constexpr uint32_t kFlagHasHeader = 0x80000000u;
constexpr uint32_t kFlagIsHeader = 0x20000000u;
constexpr uint32_t kMaxItems = 65536;
constexpr uint32_t kMaxTagBytes = 16u << 20;  // beyond this a tag is taken for garbage

const char* const kGenres[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock"};

bool parseItems(const uint8_t* p, size_t size, uint32_t count, std::vector<TagItem>& items) {
    size_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - pos < 9) return false;
        uint32_t valueSize = getLE32(p + pos);
        uint32_t flags = getLE32(p + pos + 4);
        pos += 8;
        const uint8_t* keyStart = p + pos;
        const void* end = std::memchr(keyStart, 0, size - pos);
        if (!end) return false;
        size_t keyLength = static_cast<const uint8_t*>(end) - keyStart;
        pos += keyLength + 1;
        if (valueSize > size - pos) return false;
        TagItem item;
        item.key.assign(reinterpret_cast<const char*>(keyStart), keyLength);
        item.value.assign(reinterpret_cast<const char*>(p + pos), valueSize);
        item.flags = flags;
        items.push_back(std::move(item));
        pos += valueSize;
    }
    return true;
}

// Reads an APEv2 tag whose footer ends at `end`; false when there is none.
bool readApeTag(const File& file, uint64_t end, uint64_t& tagStart, std::vector<TagItem>& items) {
    if (end < 32) return false;
    uint8_t footer[32];
    if (!file.readAt(end - 32, footer, 32) || std::memcmp(footer, kApePreamble, 8) != 0) return false;
    uint32_t version = getLE32(footer + 8);
    uint32_t size = getLE32(footer + 12);
    uint32_t count = getLE32(footer + 16);
    uint32_t flags = getLE32(footer + 20);
    if (version > kApeVersion || size < 32 || size > kMaxTagBytes || count > kMaxItems || (flags & kFlagIsHeader))
        return false;
    uint64_t start = end - 32;
    if (uint64_t(size) - 32 > start) return false;
    start -= size - 32;
    std::vector<uint8_t> body(size - 32);
    if (!body.empty() && !file.readAt(start, body.data(), body.size())) return false;
    std::vector<TagItem> parsed;
    if (!parseItems(body.data(), body.size(), count, parsed)) return false;
    if (flags & kFlagHasHeader) {
        uint8_t header[32];
        if (start >= 32 && file.readAt(start - 32, header, 32) && std::memcmp(header, kApePreamble, 8) == 0)
            start -= 32;
    }
    tagStart = start;
    items = std::move(parsed);
    return true;
}

void putField(uint8_t* dst, size_t width, const std::string& text) {
    std::memset(dst, 0, width);
    std::memcpy(dst, text.data(), std::min(width, text.size()));
}

// UTF-8 to Windows-1252; characters it cannot hold become '?'.
std::string toWindows1252(const std::string& utf8) {
    static const uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        uint8_t b = uint8_t(utf8[i]);
        uint32_t cp;
        int extra;
        if (b < 0x80) {
            cp = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
        } else {
            out += '?';
            ++i;
            continue;
        }
        if (i + extra >= utf8.size() + (extra ? 0 : 1)) {
            out += '?';
            break;
        }
        bool valid = true;
        for (int k = 1; k <= extra; ++k) {
            uint8_t c = uint8_t(utf8[i + k]);
            if ((c & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        i += extra + 1;
        char mapped = '?';
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            mapped = char(cp);
        } else {
            for (int k = 0; k < 32; ++k)
                if (kHigh[k] && kHigh[k] == cp) mapped = char(0x80 + k);
        }
        out += mapped;
    }
    return out;
}

const std::string* findItem(const std::vector<TagItem>& items, const char* key) {
    for (const TagItem& item : items)
        if (strcasecmp(item.key.c_str(), key) == 0) return &item.value;
    return nullptr;
}

}  // namespace

bool readTrailingTags(const File& file, uint64_t fileSize, TrailingTags& tags) {
    tags = TrailingTags();
    uint64_t end = fileSize;
    if (fileSize >= 128) {
        uint8_t block[128];
        if (!file.readAt(fileSize - 128, block, 128)) return false;
        if (std::memcmp(block, "TAG", 3) == 0) {
            tags.hasId3v1 = true;
            std::memcpy(tags.id3v1, block, 128);
            end = fileSize - 128;
        }
    }
    uint64_t start = 0;
    if (readApeTag(file, end, start, tags.apeItems)) {
        tags.hasApe = true;
        end = start;
    }
    tags.contentEnd = end;
    return true;
}

std::vector<uint8_t> buildApeTag(const std::vector<TagItem>& items) {
    size_t bodySize = 0;
    for (const TagItem& item : items) bodySize += 8 + item.key.size() + 1 + item.value.size();
    std::vector<uint8_t> tag(32 + bodySize + 32, 0);
    auto block = [&](uint8_t* b, uint32_t flags) {
        std::memcpy(b, kApePreamble, 8);
        putLE32(b + 8, kApeVersion);
        putLE32(b + 12, uint32_t(bodySize + 32));
        putLE32(b + 16, uint32_t(items.size()));
        putLE32(b + 20, flags);
    };
    block(tag.data(), kFlagHasHeader | kFlagIsHeader);
    uint8_t* p = tag.data() + 32;
    for (const TagItem& item : items) {
        putLE32(p, uint32_t(item.value.size()));
        putLE32(p + 4, item.flags);
        p += 8;
        std::memcpy(p, item.key.data(), item.key.size());
        p += item.key.size() + 1;
        if (!item.value.empty()) std::memcpy(p, item.value.data(), item.value.size());
        p += item.value.size();
    }
    block(p, kFlagHasHeader);
    return tag;
}

void apeItemsToId3v1(const std::vector<TagItem>& items, uint8_t block[128]) {
    std::memset(block, 0, 128);
    std::memcpy(block, "TAG", 3);
    auto text = [&](const char* key) {
        const std::string* v = findItem(items, key);
        if (!v) return std::string();
        // A multi-value item: the first value stands for all.
        return toWindows1252(std::string(v->c_str()));
    };
    putField(block + 3, 30, text("Title"));
    putField(block + 33, 30, text("Artist"));
    putField(block + 63, 30, text("Album"));
    putField(block + 93, 4, text("Year"));
    putField(block + 97, 28, text("Comment"));
    std::string track = text("Track");
    int trackNumber = std::atoi(track.c_str());
    block[126] = uint8_t(trackNumber > 0 && trackNumber < 256 ? trackNumber : 0);
    block[127] = 255;
    std::string genre = text("Genre");
    for (size_t g = 0; g < sizeof(kGenres) / sizeof(kGenres[0]); ++g)
        if (strcasecmp(genre.c_str(), kGenres[g]) == 0) block[127] = uint8_t(g);
}

}  // namespace ape
