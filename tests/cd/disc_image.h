// Disc images made at test time: a cue sheet with its .bin (or a cdrdao
// .toc) holding audio tracks of known PCM, optionally a MODE1/2352 data
// track after them, CD-Text in the sheet, byte-swapped audio, or data that
// ends before the table says.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace cdtest {

namespace fs = std::filesystem;

inline constexpr int kSectorBytes = 2352;

struct TDiscLayout {
  // Sectors of each audio track (not whole seconds by default).
  std::vector<int> TrackSectors{317, 401, 233};
  // Silence before track 1's INDEX 01 (INDEX 00 at the start of the file).
  int PregapSectors = 150;
  // Sectors of a MODE1/2352 data track after the audio; 0 for none.
  int DataSectors = 200;
  // The data track's copy-permitted flag (FLAGS DCP in the sheet).
  bool DataCopyPermitted = false;
  bool CdText = true;
  // Audio samples stored big-endian, as some drives deliver them.
  bool ByteSwapped = false;
  std::string Name = "disc";
};

struct TDiscImage {
  fs::path Cue;
  fs::path Bin;
  // Little-endian PCM of each audio track, as a correct read gives it.
  std::vector<std::vector<uint8_t>> Tracks;
  // The table: the first sector of each track, then the lead-out.
  std::vector<int32_t> Starts;
};

// Writes <dir>/<name>.cue and <dir>/<name>.bin.
TDiscImage MakeDisc(const fs::path& dir, const TDiscLayout& layout = {});

// A cdrdao .toc over the same .bin as the image, whose tracks claim their
// full lengths while the .bin ends after keepSectors sectors.
fs::path MakeTocWithShortData(const fs::path& dir, const TDiscImage& image, int keepSectors);

// The known PCM of frame `frame` of track `track` (0-based), channel 0 or 1.
int16_t TrackSample(int track, int64_t frame, int channel);

}  // namespace cdtest
