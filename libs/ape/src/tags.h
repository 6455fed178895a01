// The tags at the end of an APE file: APEv2 (read and written) and ID3v1
// (read only).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "file_io.h"

namespace ape {

struct TagItem {
    std::string key;
    std::string value;  // raw bytes; UTF-8 text for text items
    uint32_t flags = 0;
};

struct TrailingTags {
    uint64_t contentEnd = 0;  // where the audio data ends and the first tag begins
    bool hasApe = false;
    bool hasId3v1 = false;
    std::vector<TagItem> apeItems;
    uint8_t id3v1[128] = {};
};

// Finds an APEv2 tag at the end of the file or just before a trailing
// ID3v1 tag, and an ID3v1 tag. A damaged APEv2 tag is treated as absent.
// Returns false only on a read error.
bool readTrailingTags(const File& file, uint64_t fileSize, TrailingTags& tags);

// Serialises an APEv2 tag with header and footer.
std::vector<uint8_t> buildApeTag(const std::vector<TagItem>& items);

// Fills the 128-byte ID3v1.1 layout from APEv2 items (UTF-8 converted to
// Windows-1252, fields cut to size).
void apeItemsToId3v1(const std::vector<TagItem>& items, uint8_t block[128]);

}  // namespace ape
