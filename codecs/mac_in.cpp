#include "codecs/mac_in.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "pipeline/au_exception.h"

TMACIn::TMACIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TMACIn::~TMACIn() {
  NotifyRemoval();
  try {
    CloseFile();
  } catch (...) {
  }
}

void TMACIn::OpenFile() {
  const TMACLibrary* lib = LoadMACLibrary();
  if (!lib) throw EAuException(MACLibraryLoadFailedMessage());
  std::lock_guard lock(FileLock);
  Valid = true;
  if (OpenCount > 0) return;
  // The file is always opened by name; a caller's stream is not used.
  FAPEv2Tags.Clear();
  std::array<unsigned char, kId3v1BlockSize> block{};
  if (lib->GetID3Tag(WideFileName().c_str(), reinterpret_cast<APE_ID3_TAG*>(block.data())) == 0)
    FAPEv2Tags.ReadId3v1Layout(block);
  try {
    Decompressor = std::make_unique<TAPEDecompress>(WideFileName());
  } catch (...) {
    Valid = false;
    throw;
  }
  Size = Decompressor->GetInfo(APE_INFO_WAV_TOTAL_BYTES);
  FSampleRate = static_cast<int>(Decompressor->GetInfo(APE_INFO_SAMPLE_RATE));
  FBitsPerSample = static_cast<int>(Decompressor->GetInfo(APE_INFO_BITS_PER_SAMPLE));
  FChannels = static_cast<int>(Decompressor->GetInfo(APE_INFO_CHANNELS));
  ++OpenCount;
}

void TMACIn::CloseFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount > 0) {
    Decompressor.reset();
    OpenCount = 0;
  }
}

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
  BufStart = 1;
  BufEnd = 0;
}

void TMACIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!Busy) throw EAuException(kMsgStreamNotOpened);
  const int frameSize = FrameSize;
  if (frameSize <= 0 || frameSize > DecodeBufferSize || !Decompressor) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  if (BufEnd < BufStart) {
    BufStart = 1;
    BufEnd = 0;
    if (!DecoderDrained) {
      while (BufEnd < DecodeBufferSize - DecodeBufferSize % frameSize) {
        int blocks = 0;
        const int result =
            Decompressor->GetData(DecodeBuffer.data() + BufEnd, (DecodeBufferSize - BufEnd) / frameSize, blocks);
        // A damaged frame must not pass for the end of the file.
        if (result != 0) throw EAPEException(result);
        const int bytes = blocks * frameSize;
        if (bytes < 1) {
          DecoderDrained = true;
          break;
        }
        BufEnd += bytes;
      }
    }
  }
  Bytes -= Bytes % static_cast<uint32_t>(frameSize);
  const int available = std::max(0, BufEnd - BufStart + 1);
  if (static_cast<int64_t>(available) < Bytes) Bytes = static_cast<uint32_t>(available);
  Buffer = DecodeBuffer.data() + (BufStart - 1);
  BufStart += static_cast<int>(Bytes);
}

bool TMACIn::SeekInternal(int64_t& SampleNum) {
  if (!Decompressor) return false;
  const int result = Decompressor->Seek(SampleNum);
  BufStart = 1;
  BufEnd = 0;
  DecoderDrained = false;
  return result == 0;
}
