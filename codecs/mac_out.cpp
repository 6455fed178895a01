#include "codecs/mac_out.h"

#include <cstring>


TMACOut::TMACOut(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {}

TMACOut::~TMACOut() {
  // The worker may be inside Done: end it before this object's members go.
  DestroyWorker();
}

void TMACOut::SetCompressionLevel(int Value) {
  switch (Value) {
    case 1000:
    case 2000:
    case 3000:
    case 4000:
    case 5000: FCompressionLevel = Value; break;
    default: FCompressionLevel = DefaultCompressionLevel; break;
  }
}

void TMACOut::Prepare() {
  const TMACLibrary* lib = LoadMACLibrary();
  if (!lib) throw EAuException(MACLibraryLoadFailedMessage());
  if (FileName().empty()) throw EAuException(kMsgOutputFileNameNotAssigned);
  FInput->Init();
  Compressor = std::make_unique<TAPECompress>();
  lib->FillWaveFormatEx(&WaveFormat, FInput->SampleRate(), FInput->BitsPerSample(), FInput->Channels());
  // File names are UTF-8 paths here, so the name needs no 8-bit conversion.
  const int result = Compressor->Start(TargetFileName(), &WaveFormat, MaxAudioBytes, FCompressionLevel, nullptr, 0);
  Started = (result == 0);
  Active = Started;
  if (result != 0) throw EAuException(kMsgErrorStartingAPECompress + APEErrorText(result));
}

bool TMACOut::EncodeStep() {
  if (!Started) return false;
  const int frameBytes = WaveFormat.nChannels * (WaveFormat.wBitsPerSample / 8);
  if (frameBytes <= 0) return false;
  const uint32_t filled = ReadInput(Buffer.data(), static_cast<uint32_t>(BlockLength(frameBytes)));
  uint32_t done = 0;
  while (done < filled) {
    int available = 0;
    unsigned char* dest = Compressor->LockBuffer(available);
    const uint32_t n = std::min<uint32_t>(available > 0 ? static_cast<uint32_t>(available) : 0, filled - done);
    if (dest && n > 0) std::memcpy(dest, Buffer.data() + done, n);
    const int result = Compressor->UnlockBuffer(static_cast<int>(n));
    if (result != 0) throw EAuException(kMsgAPECompressUnlockBufferError + std::to_string(result));
    if (n == 0) throw EAuException(kMsgAPECompressUnlockBufferError + std::to_string(APE_ERROR_BAD_PARAMETER));
    done += n;
  }
  return true;
}

void TMACOut::Finish() {
  if (!Compressor) return;
  // A failed finish leaves no file: it must not pass for a finished one.
  const int result = Started ? Compressor->Finish() : 0;
  Compressor.reset();
  if (result != 0) throw EAPEException(result);
}

void TMACOut::AfterClose() {
  const bool written = Started && ExceptionMessage.empty();
  Started = false;
  if (written && !FAPEv2Tags.Empty()) {
    const TMACLibrary* lib = LoadMACLibrary();
    const std::array<std::string, 7> v = FAPEv2Tags.SimpleTagValues();
    lib->TagFileSimple(TargetFileName().c_str(), v[0].c_str(), v[1].c_str(), v[2].c_str(), v[3].c_str(), v[4].c_str(),
                       v[5].c_str(), v[6].c_str(), 1, 0);
  }
}
