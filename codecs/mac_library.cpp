#include "codecs/mac_library.h"

#include <climits>

#include "platform/dynamic_library.h"

namespace {

platform::DynamicLibrary& Library() {
  static platform::DynamicLibrary library(kMacLibraryFileName);
  return library;
}

TMACLibrary& Exports() {
  static TMACLibrary exports;
  return exports;
}

bool BindExports(platform::DynamicLibrary& lib) {
  TMACLibrary& e = Exports();
  return lib.Bind(e.APECompress_Create, "c_APECompress_Create") &&
         lib.Bind(e.APECompress_Destroy, "c_APECompress_Destroy") &&
         lib.Bind(e.APECompress_Start, "c_APECompress_Start") &&
         lib.Bind(e.APECompress_LockBuffer, "c_APECompress_LockBuffer") &&
         lib.Bind(e.APECompress_UnlockBuffer, "c_APECompress_UnlockBuffer") &&
         lib.Bind(e.APECompress_Finish, "c_APECompress_Finish") &&
         lib.Bind(e.APEDecompress_Create, "c_APEDecompress_CreateW") &&
         lib.Bind(e.APEDecompress_Destroy, "c_APEDecompress_Destroy") &&
         lib.Bind(e.APEDecompress_GetData, "c_APEDecompress_GetData") &&
         lib.Bind(e.APEDecompress_GetInfo, "c_APEDecompress_GetInfo") &&
         lib.Bind(e.APEDecompress_Seek, "c_APEDecompress_Seek") &&
         lib.Bind(e.FillWaveFormatEx, "FillWaveFormatEx") && lib.Bind(e.GetID3Tag, "GetID3Tag") &&
         lib.Bind(e.TagFileSimple, "TagFileSimple") && lib.Bind(e.GetErrorText, "c_APE_GetErrorText");
}

}  // namespace

const TMACLibrary* LoadMACLibrary() { return Library().Load(BindExports) ? &Exports() : nullptr; }

std::string MACLibraryLoadFailedMessage() { return Library().LoadFailedMessage(); }

std::string APEErrorText(int Code) {
  const TMACLibrary* lib = LoadMACLibrary();
  const char* text = lib != nullptr ? lib->GetErrorText(Code) : nullptr;
  return text != nullptr ? std::string(text) : FormatMessage(kFmtMacUndefinedError, {Code});
}

namespace {
const TMACLibrary* RequireLibrary() {
  const TMACLibrary* lib = LoadMACLibrary();
  if (!lib) throw EAuException(MACLibraryLoadFailedMessage());
  return lib;
}
}  // namespace

TAPECompress::TAPECompress() : Lib(RequireLibrary()) {
  Handle = Lib->APECompress_Create(&CreateError);
  if (CreateError != 0) {
    if (Handle) Lib->APECompress_Destroy(Handle);
    Handle = nullptr;
    throw EAPEException(CreateError);
  }
}

TAPECompress::~TAPECompress() {
  if (Handle) Lib->APECompress_Destroy(Handle);
}

int TAPECompress::Start(const std::filesystem::path& FileName, const APE_WAVEFORMATEX* WaveFormat, int MaxAudioBytes,
                        int CompressionLevel, const void* HeaderData, int HeaderBytes) {
  return Lib->APECompress_Start(Handle, FileName.c_str(), WaveFormat, MaxAudioBytes, CompressionLevel, HeaderData,
                                HeaderBytes);
}

unsigned char* TAPECompress::LockBuffer(int& BytesAvailable) {
  return Lib->APECompress_LockBuffer(Handle, &BytesAvailable);
}

int TAPECompress::UnlockBuffer(int BytesAdded) { return Lib->APECompress_UnlockBuffer(Handle, BytesAdded, 1); }

int TAPECompress::Finish() { return Lib->APECompress_Finish(Handle, nullptr, 0, 0); }

TAPEDecompress::TAPEDecompress(const std::filesystem::path& Name) : Lib(RequireLibrary()), FileName(Name) {
  Handle = Lib->APEDecompress_Create(FileName.c_str(), &CreateError);
  if (CreateError != 0) {
    if (Handle) Lib->APEDecompress_Destroy(Handle);
    Handle = nullptr;
    throw EAPEException(CreateError);
  }
}

TAPEDecompress::~TAPEDecompress() {
  if (Handle) Lib->APEDecompress_Destroy(Handle);
}

int TAPEDecompress::GetData(void* Buffer, int Blocks, int& BlocksRetrieved) {
  BlocksRetrieved = 0;
  return Lib->APEDecompress_GetData(Handle, static_cast<char*>(Buffer), Blocks, &BlocksRetrieved);
}

int64_t TAPEDecompress::GetInfo(int Code) { return Lib->APEDecompress_GetInfo(Handle, Code, 0, 0); }

int TAPEDecompress::Seek(int64_t BlockNumber) {
  if (BlockNumber < 0 || BlockNumber > INT_MAX) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
  return Lib->APEDecompress_Seek(Handle, static_cast<int>(BlockNumber));
}
