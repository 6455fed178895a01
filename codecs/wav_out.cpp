#include "codecs/wav_out.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>

#include "codecs/riff_chunks.h"
#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"

namespace {

constexpr uint32_t PcmHeaderSize = 44;
constexpr uint32_t ExtensibleHeaderSize = 68;
constexpr uint32_t ImaHeaderSize = 60;
// PCM goes out in pieces of 256 KiB: the kernel's cost per write call (page
// cache allocation and accounting, dirty-page checks) makes 16 KiB pieces
// take about three times the system time of these.
constexpr uint32_t BlockRequest = 262144;
constexpr uint64_t MaxRiffBytes = std::numeric_limits<uint32_t>::max();

uint32_t ChannelMask(int channels) {
  switch (channels) {
    case 1: return 0x1;
    case 2: return 0x3;
    case 6: return 0x3F;
    case 8: return 0xFF;
    // Other counts: the first n speaker positions, in the order of the mask.
    default: return channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1;
  }
}

// Samples per IMA block, in the 16-bit arithmetic the header field holds.
uint16_t ImaSamplesPerBlock(uint16_t blockSize, int channels) {
  return static_cast<uint16_t>((2 / channels) * (blockSize - 4 * channels) + 1);
}

}  // namespace

TWaveOut::TWaveOut(TComponent* AOwner) : TAuFileOut(AOwner) {}

TWaveOut::~TWaveOut() {
  // The worker may be inside Done: end it before this object's members go.
  DestroyWorker();
}

void TWaveOut::SetWavType(TWavType Value) {
  if (Busy) return;
  if (Value == TWavType::wtPCM || Value == TWavType::wtDVIADPCM) FWavType = Value;
}

void TWaveOut::SetBlockSize(uint16_t Value) {
  if (Busy) return;
  if (Value != 0 && Value % 4 == 0) FBlockSize = Value;
}

void TWaveOut::SetFileMode(TFileOutputMode Value) { FFileMode = Value; }

void TWaveOut::Fail(const char* Message) {
  FInput->Flush();
  Stream.reset();
  throw EAuException(Message);
}

void TWaveOut::CheckFits(uint64_t bytes) const {
  if (bytes > MaxRiffBytes) throw EAuException(kMsgWavTooLarge);
}

void TWaveOut::ReadExistingHeader() {
  ExistingType = TWavType::wtUnsupported;
  TStream* stream = Stream.get();
  stream->SetPosition(0);
  TRiffHeaderScanner scan([stream](uint8_t* p, size_t n) { return stream->Read(p, n); },
                          [stream] { return stream->Position() >= stream->Size(); });
  if (!scan.FindWave()) return;
  enum class TState { Fmt, Fact, Data } state = TState::Fmt;
  TWavType found = TWavType::wtUnsupported;
  while (scan.MayContinue()) {
    bool ok = true;
    uint32_t size = 0;
    const uint8_t* body = nullptr;
    if (state == TState::Fmt && scan.IsChunk("fmt ")) {
      if (!scan.ReadSize(size) || !scan.ReadBody(size, body) || size < 16) return;
      const uint16_t tag = ReadLe16(body);
      if (tag == TagPcm)
        found = TWavType::wtPCM;
      else if (tag == TagImaAdpcm)
        found = TWavType::wtDVIADPCM;
      else
        return;
      ExistingChannels = ReadLe16(body + 2);
      ExistingSampleRate = ReadLe32(body + 4);
      FBlockSize = ReadLe16(body + 12);
      ExistingBits = ReadLe16(body + 14);
      state = found == TWavType::wtDVIADPCM ? TState::Fact : TState::Data;
      ok = scan.ReadNextID();
    } else if (state == TState::Fact && scan.IsChunk("fact")) {
      FactPos = scan.Cursor() + 4;
      if (!scan.ReadSize(size) || !scan.ReadBody(size, body) || size < 4) return;
      ExistingFactSamples = ReadLe32(body);
      state = TState::Data;
      ok = scan.ReadNextID();
    } else if (state == TState::Data && scan.IsChunk("data")) {
      DataSizePos = scan.Cursor();
      if (!scan.ReadSize(size)) return;
      ExistingDataSize = size;
      DataStart = scan.Cursor();
      ExistingType = found;
      return;
    } else {
      ok = scan.SkipChunk();
    }
    if (!ok) return;
  }
}

namespace {

// The 36 bytes every header starts with: "RIFF", its size, "WAVE" and the
// common fields of the "fmt " chunk.
void WriteRiffAndFormat(uint8_t* h, uint32_t riffSize, uint32_t fmtSize, uint16_t formatTag, uint16_t channels,
                        uint32_t sampleRate, uint32_t bytesPerSecond, uint16_t blockAlign, uint16_t bits) {
  std::memcpy(h, "RIFF", 4);
  WriteLe32(h + 4, riffSize);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  WriteLe32(h + 16, fmtSize);
  WriteLe16(h + 20, formatTag);
  WriteLe16(h + 22, channels);
  WriteLe32(h + 24, sampleRate);
  WriteLe32(h + 28, bytesPerSecond);
  WriteLe16(h + 32, blockAlign);
  WriteLe16(h + 34, bits);
}

}  // namespace

void TWaveOut::WritePcmHeader(int64_t size) {
  const uint16_t blockAlign = static_cast<uint16_t>(Bits * Channels / 8);
  uint8_t h[PcmHeaderSize];
  WriteRiffAndFormat(h, static_cast<uint32_t>(size + 36), 16, TagPcm, static_cast<uint16_t>(Channels),
                     static_cast<uint32_t>(SampleRate), static_cast<uint32_t>(SampleRate) * blockAlign, blockAlign,
                     static_cast<uint16_t>(Bits));
  std::memcpy(h + 36, "data", 4);
  WriteLe32(h + 40, static_cast<uint32_t>(size));
  Stream->WriteBuffer(h, sizeof h);
}

void TWaveOut::WriteExtensibleHeader(int64_t size) {
  const uint16_t blockAlign = static_cast<uint16_t>(Bits * Channels / 8);
  uint8_t h[ExtensibleHeaderSize];
  WriteRiffAndFormat(h, static_cast<uint32_t>(size + 60), 40, TagExtensible, static_cast<uint16_t>(Channels),
                     static_cast<uint32_t>(SampleRate), static_cast<uint32_t>(SampleRate) * blockAlign, blockAlign,
                     static_cast<uint16_t>(Bits));
  WriteLe16(h + 36, 22);
  WriteLe16(h + 38, static_cast<uint16_t>(Bits));
  WriteLe32(h + 40, ChannelMask(Channels));
  std::memcpy(h + 44, KsDataFormatSubtypePcm, 16);
  std::memcpy(h + 60, "data", 4);
  WriteLe32(h + 64, static_cast<uint32_t>(size));
  Stream->WriteBuffer(h, sizeof h);
}

void TWaveOut::WriteImaHeader(int64_t size) {
  const uint16_t spb = ImaSamplesPerBlock(FBlockSize, Channels);
  const int64_t frames = (size / (Bits / 8)) / Channels;
  // The blocks the frames fill, the last one partly: what the run writes
  // when the input delivers what it announced.
  const int64_t dataSize = (std::max<int64_t>(frames, 0) + spb - 1) / spb * FBlockSize;
  CheckFits(static_cast<uint64_t>(dataSize) + 52);
  CheckFits(static_cast<uint64_t>(std::max<int64_t>(frames, 0)));
  uint8_t h[ImaHeaderSize];
  WriteRiffAndFormat(h, static_cast<uint32_t>(dataSize + 52), 20, TagImaAdpcm, static_cast<uint16_t>(Channels),
                     static_cast<uint32_t>(SampleRate), (static_cast<uint32_t>(SampleRate) / spb) * FBlockSize,
                     FBlockSize, 4);
  WriteLe16(h + 36, 2);
  WriteLe16(h + 38, spb);
  std::memcpy(h + 40, "fact", 4);
  WriteLe32(h + 44, 4);
  WriteLe32(h + 48, static_cast<uint32_t>(frames));
  std::memcpy(h + 52, "data", 4);
  WriteLe32(h + 56, static_cast<uint32_t>(dataSize));
  Stream->WriteBuffer(h, sizeof h);
}

void TWaveOut::Prepare() {
  Appended = false;
  HeaderWritten = false;
  EncodedFrames = 0;
  if (FileName().empty()) throw EAuException(kMsgOutputFileNameNotAssigned);
  if (std::filesystem::exists(TargetFileName()) && FFileMode != TFileOutputMode::foRewrite)
    Stream = std::make_unique<TAuFileStream>(TargetFileName(), ShareMode | TAuFileStream::fmOpenReadWrite);
  else
    Stream = std::make_unique<TAuFileStream>(TargetFileName(), TAuFileStream::fmCreate);
  FInput->Init();
  Channels = FInput->Channels();
  Bits = FInput->BitsPerSample();
  SampleRate = FInput->SampleRate();
  const int64_t size = FInput->Size;
  if ((Channels > 2 || Bits > 16) && !CreateNonMsHeaders) FWavType = TWavType::wtExtPCM;

  if (FFileMode == TFileOutputMode::foAppend && Stream->Size() > 0) {
    ReadExistingHeader();
    if (ExistingType != TWavType::wtPCM && ExistingType != TWavType::wtDVIADPCM) Fail(kMsgCannotAppendToFile);
    // An IMA file whose blocks this encoder cannot continue.
    if (ExistingType == TWavType::wtDVIADPCM &&
        (ExistingChannels < 1 || ExistingChannels > 2 || FBlockSize <= 4 * ExistingChannels ||
         (ExistingChannels == 2 && FBlockSize % 8 != 0)))
      Fail(kMsgCannotAppendToFile);
    FWavType = ExistingType;
    Appended = true;
  }

  switch (FWavType) {
    case TWavType::wtPCM:
      if (Appended) {
        if (static_cast<uint32_t>(SampleRate) != ExistingSampleRate || Bits != ExistingBits ||
            Channels != ExistingChannels)
          Fail(kMsgCannotAppendDifferentFormat);
        Stream->Seek(0, TSeekOrigin::soEnd);
        HeaderWritten = true;
        break;
      }
      if (size >= 0 && static_cast<uint64_t>(size) + 36 > MaxRiffBytes) Fail(kMsgWavTooLarge);
      WritePcmHeader(size);
      HeaderWritten = true;
      break;
    case TWavType::wtDVIADPCM:
      if (Bits != 16) Fail(kMsgCannotEncode8Bit);
      if (Channels < 1 || Channels > 2) Fail(kMsgCannotEncodeChannels);
      if (Appended) {
        if (static_cast<uint32_t>(SampleRate) != ExistingSampleRate || Channels != ExistingChannels)
          Fail(kMsgCannotAppendDifferentFormat);
        AppendStart = Stream->Seek(0, TSeekOrigin::soEnd);
      } else {
        if (FBlockSize <= 4 * Channels) Fail(kMsgBlockSizeTooSmall);
        if (Channels == 2 && FBlockSize % 8 != 0) Fail(kMsgStereoBlockSize);
        WriteImaHeader(size);
        EncState[0].StepIndex = 0;
        EncState[1].StepIndex = 0;
      }
      HeaderWritten = true;
      SampleBuffer.assign(ImaFramesPerBlock(FBlockSize, static_cast<unsigned>(Channels)) * Channels, 0);
      BlockBuffer.assign(FBlockSize, 0);
      break;
    case TWavType::wtExtPCM:
      if (size >= 0 && static_cast<uint64_t>(size) + 60 > MaxRiffBytes) Fail(kMsgWavTooLarge);
      WriteExtensibleHeader(size);
      HeaderWritten = true;
      break;
    default:
      break;
  }
  if (FWavType != TWavType::wtDVIADPCM) {
    // Whole frames per block where the format has them.
    const uint32_t frame = static_cast<uint32_t>(std::max(0, Bits * Channels / 8));
    BlockBuffer.assign(frame > 0 && frame <= BlockRequest ? BlockRequest - BlockRequest % frame : BlockRequest, 0);
  }
  // Counted from here on instead of asking the file at every block.
  WritePosition = static_cast<uint64_t>(Stream->Position());
}

bool TWaveOut::EncodeImaStep() {
  std::fill(SampleBuffer.begin(), SampleBuffer.end(), 0);
  auto* dest = reinterpret_cast<uint8_t*>(SampleBuffer.data());
  const uint32_t filled = ReadInput(dest, static_cast<uint32_t>(SampleBuffer.size() * 2));
  // No frame left: a block now would lie outside the frames the header
  // counts. A block the input filled only in part goes out, its missing
  // frames silence.
  if (filled == 0) return false;
  EncodedFrames += filled / (2 * static_cast<uint32_t>(Channels));
  EncodeImaBlock(SampleBuffer.data(), FBlockSize, static_cast<unsigned>(Channels), EncState, BlockBuffer.data());
  CheckFits(WritePosition + FBlockSize);
  Stream->WriteBuffer(BlockBuffer.data(), FBlockSize);
  WritePosition += FBlockSize;
  return true;
}

bool TWaveOut::EncodeStep() {
  if (FWavType == TWavType::wtDVIADPCM) return EncodeImaStep();
  const uint32_t bytes = ReadInput(BlockBuffer.data(), static_cast<uint32_t>(BlockBuffer.size()));
  if (bytes == 0) return false;
  CheckFits(WritePosition + bytes);
  Stream->WriteBuffer(BlockBuffer.data(), bytes);
  WritePosition += bytes;
  return true;
}

void TWaveOut::PatchHeader() {
  const int64_t length = Stream->Size();
  uint8_t word[4];
  auto writeAt = [this, &word](int64_t offset, uint32_t value) {
    WriteLe32(word, value);
    if (Stream->Seek(offset, TSeekOrigin::soBeginning) != offset) throw EAuException(kMsgWavTooLarge);
    Stream->WriteBuffer(word, 4);
  };
  switch (FWavType) {
    case TWavType::wtPCM:
      if (Appended)
        writeAt(DataSizePos, static_cast<uint32_t>(length - DataStart));
      else
        writeAt(40, static_cast<uint32_t>(length - PcmHeaderSize));
      break;
    case TWavType::wtDVIADPCM:
      // The frame count is the frames encoded, not whole blocks: the silence
      // that fills out the last block is no part of the sound. Frames before
      // an append are counted by the blocks they fill.
      if (Appended) {
        const uint32_t dataSize = static_cast<uint32_t>(length - DataStart);
        const uint64_t before = static_cast<uint64_t>(std::max<int64_t>(AppendStart - DataStart, 0)) / FBlockSize *
                                ImaSamplesPerBlock(FBlockSize, ExistingChannels);
        writeAt(DataSizePos, dataSize);
        writeAt(FactPos, static_cast<uint32_t>(std::min<uint64_t>(before + EncodedFrames, MaxRiffBytes)));
      } else {
        const uint32_t dataSize = static_cast<uint32_t>(length - ImaHeaderSize);
        uint8_t h[ImaHeaderSize];
        Stream->SetPosition(0);
        Stream->ReadBuffer(h, sizeof h);
        WriteLe32(h + 56, dataSize);
        WriteLe32(h + 48, static_cast<uint32_t>(std::min<uint64_t>(EncodedFrames, MaxRiffBytes)));
        Stream->SetPosition(0);
        Stream->WriteBuffer(h, sizeof h);
      }
      break;
    case TWavType::wtExtPCM:
      writeAt(64, static_cast<uint32_t>(length - ExtensibleHeaderSize));
      break;
    default:
      return;
  }
  writeAt(4, static_cast<uint32_t>(length - 8));
}

void TWaveOut::Finish() {
  // Without a header of this run there are no sizes to put right.
  if (!Stream || !HeaderWritten) return;
  const int64_t size = FInput ? FInput->Size.load() : -1;
  // IMA sizes always come from the file: an input that delivers other than
  // it announced must not leave blocks outside the data chunk. A source
  // whose Size is only an estimate: the file is what it gave.
  const bool estimated = FInput && FInput->SizeIsEstimate();
  if (FWavType == TWavType::wtDVIADPCM || size < 0 || estimated || FFileMode == TFileOutputMode::foAppend ||
      StopRequested || !ExceptionMessage.empty()) {
    PatchHeader();
  } else if (FWavType == TWavType::wtPCM || FWavType == TWavType::wtExtPCM) {
    // A source that delivered less than it announced: pad with silence, so
    // the file is as long as its header says.
    const int64_t wanted = size + (FWavType == TWavType::wtPCM ? PcmHeaderSize : ExtensibleHeaderSize);
    const int64_t position = Stream->Position();
    if (position < wanted) {
      const uint8_t silence = Bits == 8 ? 0x80 : 0;
      std::vector<uint8_t> pad(static_cast<size_t>(std::min<int64_t>(wanted - position, 1 << 20)), silence);
      for (int64_t left = wanted - position; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(pad.size())));
        Stream->WriteBuffer(pad.data(), n);
        left -= static_cast<int64_t>(n);
      }
    }
  }
}
