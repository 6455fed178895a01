// The Monkey's Audio library (libapecodec.so, our own codec from libs/ape),
// loaded at run time and bound by export name, and the thin objects that own
// one compressor or decompressor handle of it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "libs/ape/include/apecodec.h"
#include "pipeline/au_exception.h"
#include "platform/messages.h"

inline constexpr const char* kMacLibraryFileName = "libapecodec.so";

// The exports the components call, bound once per process.
struct TMACLibrary {
  decltype(&::c_APECompress_Create) APECompress_Create = nullptr;
  decltype(&::c_APECompress_Destroy) APECompress_Destroy = nullptr;
  decltype(&::c_APECompress_Start) APECompress_Start = nullptr;
  decltype(&::c_APECompress_LockBuffer) APECompress_LockBuffer = nullptr;
  decltype(&::c_APECompress_UnlockBuffer) APECompress_UnlockBuffer = nullptr;
  decltype(&::c_APECompress_Finish) APECompress_Finish = nullptr;
  decltype(&::c_APEDecompress_CreateW) APEDecompress_Create = nullptr;
  decltype(&::c_APEDecompress_Destroy) APEDecompress_Destroy = nullptr;
  decltype(&::c_APEDecompress_GetData) APEDecompress_GetData = nullptr;
  decltype(&::c_APEDecompress_GetInfo) APEDecompress_GetInfo = nullptr;
  decltype(&::c_APEDecompress_Seek) APEDecompress_Seek = nullptr;
  decltype(&::FillWaveFormatEx) FillWaveFormatEx = nullptr;
  decltype(&::GetID3Tag) GetID3Tag = nullptr;
  decltype(&::TagFileSimple) TagFileSimple = nullptr;
  decltype(&::c_APE_GetErrorText) GetErrorText = nullptr;
};

// Loads the library on first use under a process-wide lock; a failed load
// is tried again at the next call. Returns nullptr when it cannot be loaded.
const TMACLibrary* LoadMACLibrary();
// "libapecodec.so library could not be loaded."
std::string MACLibraryLoadFailedMessage();

// The library's text for one of its error codes; "undefined (N)" for a code
// it does not know, or when it is not loaded.
std::string APEErrorText(int Code);

// A library error code as an exception: "MACDll error: " and the code's text.
class EAPEException : public EAuException {
 public:
  explicit EAPEException(int Code) : EAuException(kMsgMacDllError + APEErrorText(Code)), ErrorCode(Code) {}
  int ErrorCode;
};

class TAPECompress {
 public:
  // Raises EAPEException when the library reports an error.
  TAPECompress();
  ~TAPECompress();
  TAPECompress(const TAPECompress&) = delete;
  TAPECompress& operator=(const TAPECompress&) = delete;

  int Start(const std::filesystem::path& FileName, const APE_WAVEFORMATEX* WaveFormat, int MaxAudioBytes,
            int CompressionLevel, const void* HeaderData, int HeaderBytes);
  unsigned char* LockBuffer(int& BytesAvailable);
  int UnlockBuffer(int BytesAdded);
  int Finish();

 private:
  const TMACLibrary* Lib;
  APE_COMPRESS_HANDLE Handle = nullptr;
  int CreateError = 0;
};

class TAPEDecompress {
 public:
  // Raises EAPEException when the library cannot open the file.
  explicit TAPEDecompress(const std::filesystem::path& FileName);
  ~TAPEDecompress();
  TAPEDecompress(const TAPEDecompress&) = delete;
  TAPEDecompress& operator=(const TAPEDecompress&) = delete;

  int GetData(void* Buffer, int Blocks, int& BlocksRetrieved);
  int64_t GetInfo(int Code);
  int Seek(int64_t BlockNumber);

 private:
  const TMACLibrary* Lib;
  APE_DECOMPRESS_HANDLE Handle = nullptr;
  std::filesystem::path FileName;
  int CreateError = 0;
};
