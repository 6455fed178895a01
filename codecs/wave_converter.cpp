#include "codecs/wave_converter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/riff_chunks.h"
#include "platform/compression_manager.h"

namespace {

// Closes an open conversion session on every path out of Convert.
struct TAcmStreamCloser {
  HACMSTREAM Handle = nullptr;
  ~TAcmStreamCloser() {
    if (Handle) acmStreamClose(Handle, 0);
  }
};

}  // namespace

TWaveConverter::TWaveConverter() {
  if (acmMetrics(nullptr, 50, &MaxFormatSize) != AcmNoError) MaxFormatSize = 0;
  MaxFormatSize = std::min(MaxFormatSize, FormatRecordSize);
}

void TWaveConverter::LoadFromWave(TStream& Source) {
  uint8_t head[12];
  if (Source.ReadUpTo(head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
    return;
  const int64_t streamSize = Source.Size();
  // Every offset from 5 on is tried as a chunk header, one byte at a time;
  // after a recognised chunk the search resumes 7 bytes before its end.
  int64_t cursor = 12;
  while (cursor < streamSize - 1) {
    cursor -= 7;
    if (Source.Seek(cursor, TSeekOrigin::soBeginning) != cursor) break;
    uint8_t chunk[8];
    if (Source.ReadUpTo(chunk, 8) != 8) break;
    cursor += 8;
    const uint32_t size = ReadLe32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      std::array<uint8_t, FormatRecordSize> record{};
      const size_t wanted = std::min<size_t>(size, FormatRecordSize);
      const size_t got = Source.ReadUpTo(record.data(), wanted);
      SourceFormat = record;
      (void)got;
      cursor += size;
    } else if (std::memcmp(chunk, "fact", 4) == 0) {
      cursor += size;
    } else if (std::memcmp(chunk, "data", 4) == 0 && size != 0) {
      // Never trust the declared size beyond what the stream holds.
      const int64_t available = std::max<int64_t>(0, streamSize - cursor);
      std::vector<uint8_t> body(static_cast<size_t>(std::min<int64_t>(size, available)));
      body.resize(Source.ReadUpTo(body.data(), body.size()));
      SetSize(0);
      Seek(0, TSeekOrigin::soBeginning);
      Write(body.data(), body.size());
      cursor += size;
    }
  }
  Seek(0, TSeekOrigin::soBeginning);
}

uint32_t TWaveConverter::Convert() {
  TAcmStreamCloser stream;
  uint32_t result = acmStreamOpen(&stream.Handle, nullptr, SourceFormat.data(), TargetFormat.data(), nullptr, 0, 0,
                                  AcmStreamOpenNonRealtime);
  if (result != AcmNoError) return result;
  const uint32_t sourceLength = static_cast<uint32_t>(std::min<size_t>(Data().size(), UINT32_MAX));
  uint32_t destLength = 0;
  result = acmStreamSize(stream.Handle, sourceLength, &destLength, AcmStreamSizeSource);
  if (result != AcmNoError) return result;
  const uint32_t frameBytes = std::max<uint32_t>(1, ReadLe16(TargetFormat.data() + 12));
  // The estimate comes from the header's average byte rate, which a variable
  // bit rate file does not keep to: the buffer grows until the whole data
  // chunk is decoded, and a result beyond the cap is refused, never cut.
  std::vector<uint8_t> dest(std::max<uint32_t>(destLength, frameBytes), 0);
  Seek(0, TSeekOrigin::soBeginning);
  size_t consumed = 0;
  size_t produced = 0;
  while (true) {
    if (dest.size() - produced < frameBytes) {
      if (dest.size() >= AcmMaxConvertedBytes) return AcmErrNotPossible;
      dest.resize(static_cast<size_t>(std::min<uint64_t>(uint64_t{dest.size()} * 2, AcmMaxConvertedBytes)), 0);
    }
    TAcmStreamHeader header;
    header.cbStruct = sizeof(TAcmStreamHeader);
    // The conversion only reads the source; the contents are replaced after it.
    header.pbSrc = const_cast<uint8_t*>(Data().data()) + consumed;
    header.cbSrcLength = static_cast<uint32_t>(sourceLength - consumed);
    header.pbDst = dest.data() + produced;
    header.cbDstLength = static_cast<uint32_t>(dest.size() - produced);
    result = acmStreamPrepareHeader(stream.Handle, &header, 0);
    if (result != AcmNoError) return result;
    result = acmStreamConvert(stream.Handle, &header, AcmStreamConvertBlockAlign | AcmStreamConvertEnd);
    const uint32_t unprepared = acmStreamUnprepareHeader(stream.Handle, &header, 0);
    if (result != AcmNoError) return result;
    if (unprepared != AcmNoError) return unprepared;
    consumed += header.cbSrcLengthUsed;
    produced += header.cbDstLengthUsed;
    // Room left for another frame: the conversion had nothing more to give.
    if (header.cbDstLength - header.cbDstLengthUsed >= frameBytes) break;
  }
  std::memcpy(SourceFormat.data(), TargetFormat.data(), MaxFormatSize);
  // Only what the conversion produced: the rest of the buffer would be heard
  // as silence after the music.
  SetSize(0);
  Seek(0, TSeekOrigin::soBeginning);
  Write(dest.data(), produced);
  Seek(0, TSeekOrigin::soBeginning);
  const HACMSTREAM handle = stream.Handle;
  stream.Handle = nullptr;
  return acmStreamClose(handle, 0);
}

void TWaveConverter::SaveToWave(TStream& Dest) {
  const int64_t saved = Position();
  const uint32_t length = static_cast<uint32_t>(std::min<size_t>(Data().size(), UINT32_MAX - 36));
  uint8_t header[44];
  std::memcpy(header, "RIFF", 4);
  WriteLe32(header + 4, length + 36);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  WriteLe32(header + 16, 16);
  std::memcpy(header + 20, SourceFormat.data(), 16);
  std::memcpy(header + 36, "data", 4);
  WriteLe32(header + 40, length);
  Dest.WriteBuffer(header, sizeof header);
  Dest.WriteBuffer(Data().data(), length);
  SetPosition(saved);
}
