// Input: one byte of options, then a cue sheet (or a cdrdao .toc when the
// options say so) up to the first NUL byte, then the image data. The sheet
// names "disc.bin", which holds the data; both are written to a folder of
// this process before each run.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cdaudio/cd_in.h"
#include "cdrip.h"
#include "disc_text.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("quellmark-cd-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void Write(const fs::path& file, const uint8_t* data, std::size_t size) {
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                               static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool initialised = CR_Init(1) == CR_OK;
  if (!initialised || size < 2) return 0;
  const uint8_t options = data[0];
  const uint8_t* sheet = data + 1;
  const uint8_t* end = data + size;
  const auto* nul = static_cast<const uint8_t*>(std::memchr(sheet, 0, static_cast<std::size_t>(end - sheet)));
  const uint8_t* image = nul ? nul + 1 : end;
  // At most 40 sectors of image data: enough for tracks, quick to read.
  const std::size_t imageBytes = std::min<std::size_t>(static_cast<std::size_t>(end - image), 40 * 2352);
  const fs::path name = Folder() / ((options & 1) ? "disc.toc" : "disc.cue");
  Write(name, sheet, static_cast<std::size_t>((nul ? nul : end) - sheet));
  Write(Folder() / "disc.bin", image, imageBytes);

  const int drive = CR_AddCDROM(name.c_str());
  if (drive < 0) return 0;
  CR_SetActiveCDROM(drive);
  if (CR_ReadToc() != CR_OK) return 0;
  const int tracks = CR_GetNumTocEntries();
  std::vector<CR_TOCENTRY> toc;
  for (int i = -1; i <= tracks + 1; ++i) {
    const CR_TOCENTRY e = CR_GetTocEntry(i);
    if (i >= 0 && i <= tracks) toc.push_back(e);
  }
  int textSize = 0;
  CR_ReadCDText(nullptr, 0, &textSize);
  if (textSize > 0) {
    std::vector<uint8_t> block(static_cast<std::size_t>(textSize));
    if (CR_ReadCDText(block.data(), textSize, &textSize) == CR_OK) ParseCDTextBlock(block.data(), block.size());
  }
  CR_CDROMPARAMS* params = CR_GetStructPointer();
  CR_GetCDROMParameters(params);
  CR_SetParanoidMode(params, (options & 2) ? -1 : 0);
  CR_SetEnableMultiRead(params, -1);
  CR_SetMultiReadCount(params, 1);
  CR_SetCDROMParameters(params);
  // Each track of the table, and the whole disc, at most 20 sectors of each.
  for (int t = 0; t <= tracks; ++t) {
    const int32_t first = toc[static_cast<std::size_t>(t < tracks ? t : 0)].dwStartSector;
    const int32_t last = toc[static_cast<std::size_t>(t < tracks ? t + 1 : tracks)].dwStartSector;
    int32_t buffer = 5 * 2352;
    if (CR_OpenRipper(&buffer, first, std::min(last, first + 20)) != CR_OK) continue;
    std::vector<uint8_t> chunk(static_cast<std::size_t>(buffer));
    int32_t abort = 0;
    for (int i = 0; i < 5; ++i) {
      int32_t bytes = 0;
      if (CR_RipChunk(chunk.data(), &bytes, &abort) != CR_OK || bytes == 0) break;
    }
    CR_CloseRipper();
  }
  return 0;
}
