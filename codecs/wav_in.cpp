#include "codecs/wav_in.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "codecs/riff_chunks.h"
#include "codecs/wave_converter.h"
#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"
#include "pipeline/sample_routines.h"
#include "pipeline/sample_rate.h"
#include "platform/compression_manager.h"

const uint8_t KsDataFormatSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t KsDataFormatSubtypeIeeeFloat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

namespace {

bool IsAdpcm(TWavType t) { return t == TWavType::wtDVIADPCM || t == TWavType::wtMSADPCM; }

}  // namespace

TWaveIn::TWaveIn(TComponent* AOwner) : TAuFileIn(AOwner) { Decoded.Allocate(DecodeBufferSize); }

TWaveIn::~TWaveIn() { ReleaseSource(); }

bool TWaveIn::StreamAtEnd() { return Seekable && Stream->Position() >= Stream->Size(); }

void TWaveIn::RefuseFormat() {
  FWavType = TWavType::wtUnsupported;
  Size = 0;
}

bool TWaveIn::ParseFormatChunk(const uint8_t* body, uint32_t size) {
  // The fields read below all sit in the first 16 bytes.
  if (size < 16) return false;
  const uint16_t tag = ReadLe16(body);
  switch (tag) {
    case TagPcm: FWavType = TWavType::wtPCM; break;
    case TagMsAdpcm: FWavType = TWavType::wtMSADPCM; break;
    case TagIeeeFloat: FWavType = TWavType::wtIEEEFloat; break;
    case TagImaAdpcm: FWavType = TWavType::wtDVIADPCM; break;
    case TagMpegLayer3: FWavType = TWavType::wtACM; break;
    case TagExtensible: FWavType = TWavType::wtExtPCM; break;
    default: return false;
  }
  FChannels = ReadLe16(body + 2);
  const uint32_t rate = ReadLe32(body + 4);
  // A damaged rate: nothing of this format is taken.
  if (!IsSupportedSampleRate(rate)) {
    FChannels = 0;
    return false;
  }
  FSampleRate = static_cast<int>(rate);
  const uint16_t blockAlign = ReadLe16(body + 12);
  if (FWavType == TWavType::wtDVIADPCM)
    DVIBlockAlign = blockAlign;
  else
    MSBlockAlign = blockAlign;
  FBitsPerSample = ReadLe16(body + 14);
  // MPEG Layer 3 declares no sample width: the converted PCM brings its own.
  if (FChannels == 0 || (FBitsPerSample == 0 && FWavType != TWavType::wtACM)) return false;
  // A frame is at most 65535 bytes (a 16-bit frame size); a wider one is not
  // a format at all, and its product would overflow wherever it is formed.
  if (static_cast<uint32_t>(FChannels) * static_cast<uint32_t>(FBitsPerSample) / 8 > 0xFFFF) {
    FChannels = FBitsPerSample = 0;
    return false;
  }

  if (tag == TagExtensible) {
    const uint8_t* guid = body + size - 16;
    if (std::memcmp(guid, KsDataFormatSubtypePcm, 16) == 0)
      FWavType = TWavType::wtExtPCM;
    else if (std::memcmp(guid, KsDataFormatSubtypeIeeeFloat, 16) == 0)
      FWavType = TWavType::wtExtIEEEFloat;
    else
      return false;
  }
  if (IsAdpcm(FWavType) || FWavType == TWavType::wtACM) {
    if (size < 20) return false;
    const uint16_t samplesPerBlock = ReadLe16(body + 18);
    if (FWavType == TWavType::wtDVIADPCM)
      DVISamplesPerBlock = samplesPerBlock;
    else
      MSSamplesPerBlock = samplesPerBlock;
  }
  // The ADPCM layouts exist for one or two channels, and a block must decode
  // into DecodeBuffer.
  if (FWavType == TWavType::wtDVIADPCM) {
    const size_t frames = ImaFramesPerBlock(DVIBlockAlign, static_cast<unsigned>(FChannels));
    if (frames == 0 || frames * FChannels * 2 > DecodeBufferSize) return false;
    if (DVISamplesPerBlock == 0 || DVISamplesPerBlock > frames) return false;
  }
  if (FWavType == TWavType::wtMSADPCM) {
    if (size < 22) return false;
    MSNumCoef = ReadLe16(body + 20);
    if (MSNumCoef > MsMaxCoefficients || size < 22 + 4u * MSNumCoef) return false;
    for (unsigned i = 0; i < MSNumCoef; ++i) {
      MSCoefs[i].First = static_cast<int16_t>(ReadLe16(body + 22 + 4 * i));
      MSCoefs[i].Second = static_cast<int16_t>(ReadLe16(body + 24 + 4 * i));
    }
    const unsigned channels = static_cast<unsigned>(FChannels);
    const size_t needed = MsBlockBytesNeeded(MSSamplesPerBlock, channels);
    if (needed == 0 || needed > MSBlockAlign) return false;
    if (MsFramesPerBlock(MSSamplesPerBlock, channels) * channels * 2 > DecodeBufferSize) return false;
  }
  return true;
}

void TWaveIn::ReadRIFFHeader() {
  Size = 0;
  FBitsPerSample = 0;
  FChannels = 0;
  FSampleRate = 0;
  FWavType = TWavType::wtUnsupported;
  TStream* stream = Stream;
  TRiffHeaderScanner scan([stream](uint8_t* p, size_t n) { return stream->ReadUpTo(p, n); },
                          [this] { return StreamAtEnd(); });
  if (!scan.FindWave()) return;

  enum class TState { Fmt, Fact, Data } state = TState::Fmt;
  TWavType found = TWavType::wtUnsupported;
  while (scan.MayContinue()) {
    bool ok = true;
    if (state == TState::Fmt && scan.IsChunk("fmt ")) {
      uint32_t size = 0;
      const uint8_t* body = nullptr;
      if (!scan.ReadSize(size) || !scan.ReadBody(size, body)) return;
      if (!ParseFormatChunk(body, size)) {
        // A tag not taken at all leaves no format behind.
        if (FWavType == TWavType::wtUnsupported) FChannels = FBitsPerSample = FSampleRate = 0;
        RefuseFormat();
        return;
      }
      found = FWavType;
      FWavType = TWavType::wtUnsupported;
      state = (IsAdpcm(found) || found == TWavType::wtACM) ? TState::Fact : TState::Data;
      ok = scan.ReadNextID();
    } else if (state == TState::Fact && scan.IsChunk("fact")) {
      uint32_t size = 0;
      const uint8_t* body = nullptr;
      if (!scan.ReadSize(size) || !scan.ReadBody(size, body) || size < 4) return;
      if (found == TWavType::wtDVIADPCM)
        DVIFactSamples = ReadLe32(body);
      else
        MSFactSamples = ReadLe32(body);
      state = TState::Data;
      ok = scan.ReadNextID();
    } else if (state == TState::Data && scan.IsChunk("data")) {
      uint32_t size = 0;
      if (!scan.ReadSize(size)) return;
      if (found == TWavType::wtPCM || found == TWavType::wtIEEEFloat || found == TWavType::wtExtPCM ||
          found == TWavType::wtExtIEEEFloat)
        Size = size;
      FHeaderSize = static_cast<uint16_t>(scan.Cursor());
      FWavType = found;
      return;
    } else {
      ok = scan.SkipChunk();
    }
    if (!ok) return;
  }
}

bool TWaveIn::ConvertCompressed() {
  TWaveConverter converter;
  Stream->SetPosition(0);
  converter.LoadFromWave(*Stream);
  converter.TargetFormat.fill(0);
  WriteLe16(converter.TargetFormat.data(), WaveFormatPcm);
  if (acmFormatSuggest(nullptr, converter.SourceFormat.data(), converter.TargetFormat.data(),
                       TWaveConverter::FormatRecordSize, AcmFormatSuggestWFormatTag) != AcmNoError)
    return false;
  if (converter.Convert() != AcmNoError) return false;
  ConvertedStream = std::make_unique<TAuMemoryStream>();
  SavedStream = Stream;
  Stream = ConvertedStream.get();
  converter.SaveToWave(*ConvertedStream);
  Size = ConvertedStream->Size();
  ConvertedStream->SetPosition(0);
  const bool seekable = Seekable;
  Seekable = true;  // the converted stream is in memory
  ReadRIFFHeader();
  Seekable = seekable;
  if (FWavType != TWavType::wtPCM) return false;
  FWavType = TWavType::wtACM;
  return true;
}

bool TWaveIn::OpenHeader() {
  Float32 = false;
  FWavType = TWavType::wtUnsupported;
  try {
    if (!ReadHeaderAndFormat()) {
      RefuseFormat();
      return false;
    }
  } catch (...) {
    RefuseFormat();
    throw;
  }
  return true;
}

bool TWaveIn::ReadHeaderAndFormat() {
  ReadRIFFHeader();
  switch (FWavType) {
    case TWavType::wtUnsupported:
      Valid = false;
      break;
    case TWavType::wtPCM:
    case TWavType::wtExtPCM:
      break;
    case TWavType::wtDVIADPCM:
    case TWavType::wtMSADPCM: {
      if (FWavType == TWavType::wtDVIADPCM && FBitsPerSample != 4) Valid = false;
      FBitsPerSample = 16;
      const uint64_t frames = FWavType == TWavType::wtDVIADPCM ? DVIFactSamples : MSFactSamples;
      // The PCM size is a 32-bit quantity of the format: refuse what it cannot hold.
      const uint64_t bytes = frames * 2 * static_cast<uint64_t>(FChannels);
      if (bytes > std::numeric_limits<uint32_t>::max()) {
        RefuseFormat();
        Valid = false;
        break;
      }
      Size = static_cast<int64_t>(bytes);
      BlockBuffer.assign(FWavType == TWavType::wtDVIADPCM ? DVIBlockAlign : MSBlockAlign, 0);
      if (!FirstBlockDecodes()) {
        RefuseFormat();
        Valid = false;
      }
      break;
    }
    case TWavType::wtIEEEFloat:
    case TWavType::wtExtIEEEFloat:
      if (FBitsPerSample == 32)
        Float32 = true;
      else
        Size = Size / 2;
      FBitsPerSample = 32;
      break;
    case TWavType::wtACM:
      return ConvertCompressed();
  }
  return true;
}

void TWaveIn::CloseHeader() {
  // The converted data stood in for the file's stream.
  if (ConvertedStream) {
    ConvertedStream.reset();
    Stream = SavedStream;
    SavedStream = nullptr;
  }
}

bool TWaveIn::FirstBlockDecodes() {
  // Only a stream that can go back is looked at ahead of the run.
  if (!Seekable) return true;
  const int64_t start = Stream->Position();
  std::fill(BlockBuffer.begin(), BlockBuffer.end(), 0);
  const size_t got = Stream->ReadUpTo(BlockBuffer.data(), BlockBuffer.size());
  Stream->SetPosition(start);
  if (got == 0) return true;  // no data at all is an empty file, not a damaged one
  int16_t pcm[DecodeBufferSize / 2];
  const unsigned channels = static_cast<unsigned>(FChannels);
  if (FWavType == TWavType::wtDVIADPCM) return DecodeImaBlock(BlockBuffer.data(), BlockBuffer.size(), channels, pcm) != 0;
  return DecodeMsBlock(BlockBuffer.data(), MSSamplesPerBlock, channels, MSCoefs.data(), MSNumCoef, pcm) != 0;
}

bool TWaveIn::ReadDVIBlock(uint32_t& got) {
  got = 0;
  if (Seekable && StreamAtEnd()) return false;
  std::fill(BlockBuffer.begin(), BlockBuffer.end(), 0);
  if (Stream->ReadUpTo(BlockBuffer.data(), BlockBuffer.size()) == 0) return false;
  int16_t pcm[DecodeBufferSize / 2];
  const size_t frames = DecodeImaBlock(BlockBuffer.data(), BlockBuffer.size(), static_cast<unsigned>(FChannels), pcm);
  if (frames == 0) {
    // A step index outside the table: the file is damaged from here on.
    Valid = false;
    return false;
  }
  got = static_cast<uint32_t>(frames * FChannels * 2);
  std::memcpy(Decoded.Data(), pcm, got);
  return true;
}

bool TWaveIn::ReadMSBlock(uint32_t& got) {
  got = 0;
  if (StreamAtEnd()) return false;
  std::fill(BlockBuffer.begin(), BlockBuffer.end(), 0);
  if (Stream->ReadUpTo(BlockBuffer.data(), BlockBuffer.size()) == 0) return false;
  int16_t pcm[DecodeBufferSize / 2];
  const size_t frames = DecodeMsBlock(BlockBuffer.data(), MSSamplesPerBlock, static_cast<unsigned>(FChannels),
                                      MSCoefs.data(), MSNumCoef, pcm);
  if (frames == 0) {
    Valid = false;
    return false;
  }
  got = static_cast<uint32_t>(frames * FChannels * 2);
  std::memcpy(Decoded.Data(), pcm, got);
  return true;
}

void TWaveIn::DecodeBlock() {
  const uint32_t frameSize = FrameSize;
  uint8_t* buffer = Decoded.Data();
  switch (FWavType) {
    case TWavType::wtPCM:
    case TWavType::wtExtPCM:
    case TWavType::wtACM: {
      if (frameSize == 0 || frameSize > DecodeBufferSize) break;
      const size_t got = Stream->ReadUpTo(buffer, DecodeBufferSize - DecodeBufferSize % frameSize);
      // A truncated last frame is not delivered: blocks are whole frames.
      Decoded.Filled(got - got % frameSize);
      break;
    }
    case TWavType::wtIEEEFloat:
    case TWavType::wtExtIEEEFloat: {
      const uint32_t storedFrame = static_cast<uint32_t>(FChannels) * (Float32 ? 4 : 8);
      if (static_cast<uint64_t>(FChannels) * 8 > DecodeBufferSize) break;
      const uint32_t want = DecodeBufferSize - DecodeBufferSize % (static_cast<uint32_t>(FChannels) * 8);
      size_t got = Stream->ReadUpTo(buffer, want);
      got -= got % storedFrame;
      if (Float32) {
        SingleToInt32InPlace(buffer, static_cast<uint32_t>(got));
        Decoded.Filled(got);
      } else {
        DoubleToInt32InPlace(buffer, static_cast<uint32_t>(got));
        Decoded.Filled(got / 2);
      }
      break;
    }
    case TWavType::wtDVIADPCM: {
      uint32_t got = 0;
      ReadDVIBlock(got);
      Decoded.Filled(got);
      break;
    }
    case TWavType::wtMSADPCM: {
      uint32_t got = 0;
      ReadMSBlock(got);
      Decoded.Filled(got);
      break;
    }
    case TWavType::wtUnsupported:
      break;
  }
}

bool TWaveIn::SeekInternal(int64_t& SampleNum) {
  Decoded.Clear();
  // Frame numbers this large cannot be a position in any WAV file.
  if (SampleNum < 0 || SampleNum > (int64_t{1} << 40)) return false;
  int64_t offset = -1;
  switch (FWavType) {
    case TWavType::wtPCM:
      offset = FHeaderSize + SampleNum * (FBitsPerSample / 8) * FChannels;
      break;
    case TWavType::wtDVIADPCM:
      offset = FHeaderSize + (SampleNum / DVISamplesPerBlock) * DVIBlockAlign;
      break;
    case TWavType::wtMSADPCM:
      offset = FHeaderSize + (SampleNum / MSSamplesPerBlock) * MSBlockAlign;
      break;
    default:
      return false;
  }
  return Stream->Seek(offset, TSeekOrigin::soBeginning) == offset;
}
