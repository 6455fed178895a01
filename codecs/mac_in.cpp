#include "codecs/mac_in.h"

#include <array>

#include "pipeline/au_exception.h"

TMACIn::TMACIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) { Decoded.Allocate(DecodeBufferSize); }

TMACIn::~TMACIn() { ReleaseSource(); }

bool TMACIn::OpenHeader() {
  const TMACLibrary* lib = LoadMACLibrary();
  if (!lib) throw EAuException(MACLibraryLoadFailedMessage());
  FAPEv2Tags.Clear();
  std::array<unsigned char, kId3v1BlockSize> block{};
  if (lib->GetID3Tag(WideFileName().c_str(), reinterpret_cast<APE_ID3_TAG*>(block.data())) == 0)
    FAPEv2Tags.ReadId3v1Layout(block);
  Decompressor = std::make_unique<TAPEDecompress>(WideFileName());
  Size = Decompressor->GetInfo(APE_INFO_WAV_TOTAL_BYTES);
  FSampleRate = static_cast<int>(Decompressor->GetInfo(APE_INFO_SAMPLE_RATE));
  FBitsPerSample = static_cast<int>(Decompressor->GetInfo(APE_INFO_BITS_PER_SAMPLE));
  FChannels = static_cast<int>(Decompressor->GetInfo(APE_INFO_CHANNELS));
  return true;
}

void TMACIn::CloseHeader() { Decompressor.reset(); }

TAPEv2Tags& TMACIn::APEv2Tags() {
  OpenFile();
  return FAPEv2Tags;
}

int TMACIn::GetTotalTime() {
  OpenFile();
  if (!Decompressor) return 0;
  return static_cast<int>(Decompressor->GetInfo(APE_DECOMPRESS_LENGTH_MS) / 1000);
}

void TMACIn::InitInternal() {
  DecoderDrained = false;
  TAuTaggedFileIn::InitInternal();
}

void TMACIn::DecodeBlock() {
  const int frameSize = FrameSize;
  if (frameSize <= 0 || frameSize > DecodeBufferSize || !Decompressor || DecoderDrained) return;
  uint8_t* buffer = Decoded.Data();
  int end = 0;
  while (end < DecodeBufferSize - DecodeBufferSize % frameSize) {
    int blocks = 0;
    const int result = Decompressor->GetData(buffer + end, (DecodeBufferSize - end) / frameSize, blocks);
    // A damaged frame must not pass for the end of the file.
    if (result != 0) throw EAPEException(result);
    const int bytes = blocks * frameSize;
    if (bytes < 1) {
      DecoderDrained = true;
      break;
    }
    end += bytes;
  }
  Decoded.Filled(static_cast<size_t>(end));
}

bool TMACIn::SeekInternal(int64_t& SampleNum) {
  if (!Decompressor) return false;
  const int result = Decompressor->Seek(SampleNum);
  Decoded.Clear();
  DecoderDrained = false;
  return result == 0;
}
