// Pieces of the library that work on bytes from a disc or an image and need
// no drive: CD-Text values made safe for the CR_ReadCDText block, and the
// check of a sector range against a table of contents.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cdrip.h"

namespace cdrip {

// The longest CD-Text value the block carries, in bytes. A disc holds at most
// a few kilobytes of CD-Text in all; a cue sheet may claim anything.
inline constexpr std::size_t kMaxTextValueBytes = 1024;

// A CD-Text value as UTF-8: valid UTF-8 stays as it is, anything else is
// taken as ISO-8859-1 (the encoding of most CD-Text and of older cue
// sheets); control characters become spaces, the result is cut at a
// character boundary to kMaxTextValueBytes and trimmed of blanks.
std::string CleanTextValue(std::string_view raw);

// Appends one record (track, field, value, NUL) to a CR_ReadCDText block.
void AppendTextRecord(std::vector<uint8_t>& block, int track, int field, std::string_view value);

// Why the range [first, end) of a disc with this table (entries 0 .. n-1 for
// the tracks, entry n the lead-out) cannot be ripped, or CR_OK. Sectors past
// the lead-out are allowed here: reading them is a read error, reported with
// its position.
CR_ERR CheckRipRange(const std::vector<CR_TOCENTRY>& toc, int32_t first, int32_t end);

}  // namespace cdrip
