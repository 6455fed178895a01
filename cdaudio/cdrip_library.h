// The CD reading library (libcdrip.so, our own from libs/cdrip), loaded at
// run time and bound by export name, and its process-wide lifetime: the
// first user writes the library's settings file and initialises it, the last
// one deinitialises it. The program starts and converts files without it;
// the CD operations then report that it could not be loaded.
#pragma once

#include <filesystem>
#include <string>

#include "libs/cdrip/include/cdrip.h"
#include "platform/messages.h"

inline constexpr const char* kCDRipLibraryFileName = "libcdrip.so";
inline constexpr const char* kCDRipSettingsFileName = "cdr.ini";

// Every export, bound once per process.
struct TCDRipLibrary {
  decltype(&::CR_Init) Init = nullptr;
  decltype(&::CR_DeInit) DeInit = nullptr;
  decltype(&::CR_GetCDRipVersion) GetCDRipVersion = nullptr;
  decltype(&::CR_GetNumCDROM) GetNumCDROM = nullptr;
  decltype(&::CR_GetActiveCDROM) GetActiveCDROM = nullptr;
  decltype(&::CR_SetActiveCDROM) SetActiveCDROM = nullptr;
  decltype(&::CR_SelectCDROMType) SelectCDROMType = nullptr;
  decltype(&::CR_GetCDROMType) GetCDROMType = nullptr;
  decltype(&::CR_GetCDROMParameters) GetCDROMParameters = nullptr;
  decltype(&::CR_SetCDROMParameters) SetCDROMParameters = nullptr;
  decltype(&::CR_OpenRipper) OpenRipper = nullptr;
  decltype(&::CR_CloseRipper) CloseRipper = nullptr;
  decltype(&::CR_GetPercentCompleted) GetPercentCompleted = nullptr;
  decltype(&::CR_GetPeakValue) GetPeakValue = nullptr;
  decltype(&::CR_GetNumberOfJitterErrors) GetNumberOfJitterErrors = nullptr;
  decltype(&::CR_GetJitterPosition) GetJitterPosition = nullptr;
  decltype(&::CR_RipChunk) RipChunk = nullptr;
  decltype(&::CR_LoadSettings) LoadSettings = nullptr;
  decltype(&::CR_SaveSettings) SaveSettings = nullptr;
  decltype(&::CR_NormalizeChunk) NormalizeChunk = nullptr;
  decltype(&::CR_ReadToc) ReadToc = nullptr;
  decltype(&::CR_ReadCDText) ReadCDText = nullptr;
  decltype(&::CR_GetNumTocEntries) GetNumTocEntries = nullptr;
  decltype(&::CR_GetTocEntry) GetTocEntry = nullptr;
  decltype(&::CR_IsUnitReady) IsUnitReady = nullptr;
  decltype(&::CR_IsMediaLoaded) IsMediaLoaded = nullptr;
  decltype(&::CR_EjectCD) EjectCD = nullptr;
  decltype(&::CR_IsAudioPlaying) IsAudioPlaying = nullptr;
  decltype(&::CR_PlayTrack) PlayTrack = nullptr;
  decltype(&::CR_StopPlayTrack) StopPlayTrack = nullptr;
  decltype(&::CR_PauseCD) PauseCD = nullptr;
  decltype(&::CR_GetCDStatusInfo) GetCDStatusInfo = nullptr;
  decltype(&::CR_LockCD) LockCD = nullptr;
  decltype(&::CR_GetSubChannelTrackInfo) GetSubChannelTrackInfo = nullptr;
  decltype(&::CR_GetPlayPosition) GetPlayPosition = nullptr;
  decltype(&::CR_SetPlayPosition) SetPlayPosition = nullptr;
  decltype(&::CR_PlaySection) PlaySection = nullptr;
  decltype(&::CR_GetLastJitterErrorPosition) GetLastJitterErrorPosition = nullptr;
  decltype(&::CR_GetCurrentRipSector) GetCurrentRipSector = nullptr;
  decltype(&::CR_SetTransportLayer) SetTransportLayer = nullptr;
  decltype(&::CR_GetTransportLayer) GetTransportLayer = nullptr;
  decltype(&::CR_ScanForC2Errors) ScanForC2Errors = nullptr;
  decltype(&::CR_GetJitterCorrection) GetJitterCorrection = nullptr;
  decltype(&::CR_SetJitterCorrection) SetJitterCorrection = nullptr;
  decltype(&::CR_GetReadSectors) GetReadSectors = nullptr;
  decltype(&::CR_SetReadSectors) SetReadSectors = nullptr;
  decltype(&::CR_GetOverlapSectors) GetOverlapSectors = nullptr;
  decltype(&::CR_SetOverlapSectors) SetOverlapSectors = nullptr;
  decltype(&::CR_GetCompareSectors) GetCompareSectors = nullptr;
  decltype(&::CR_SetCompareSectors) SetCompareSectors = nullptr;
  decltype(&::CR_GetEnableMultiRead) GetEnableMultiRead = nullptr;
  decltype(&::CR_SetEnableMultiRead) SetEnableMultiRead = nullptr;
  decltype(&::CR_GetMultiReadCount) GetMultiReadCount = nullptr;
  decltype(&::CR_SetMultiReadCount) SetMultiReadCount = nullptr;
  decltype(&::CR_GetDriveID) GetDriveID = nullptr;
  decltype(&::CR_GetStructPointer) GetStructPointer = nullptr;
  decltype(&::CR_IsParanoidMode) IsParanoidMode = nullptr;
  decltype(&::CR_SetParanoidMode) SetParanoidMode = nullptr;
  decltype(&::CR_GetParanoiaMode) GetParanoiaMode = nullptr;
  decltype(&::CR_SetParanoiaMode) SetParanoiaMode = nullptr;
  decltype(&::CR_LockCDTrayWhileRipping) LockCDTrayWhileRipping = nullptr;
  // Ours, beyond the operations above: images as drives, drive names and
  // the library's last message.
  decltype(&::CR_AddCDROM) AddCDROM = nullptr;
  decltype(&::CR_GetDriveName) GetDriveName = nullptr;
  decltype(&::CR_GetLastMessage) GetLastMessage = nullptr;
};

// Loads and binds the library (once; a failed load is tried again at the
// next call). nullptr when it cannot be loaded or lacks an export.
const TCDRipLibrary* LoadCDRipLibrary();

// The folder of the library's settings file: the application-data folder,
// else the program's folder; with a trailing '/'.
std::filesystem::path CDRipSettingsFolder();

// Takes a use of the library: loads it, and for the first user writes
// "cdr.ini" in the settings folder and calls CR_Init(1). nullptr when the
// library cannot be loaded (nothing is taken then).
const TCDRipLibrary* AcquireCDRipLibrary();
// Gives a use back; the last one calls CR_DeInit.
void ReleaseCDRipLibrary();

// The text of a library error code.
std::string CDRipErrorText(int Code);
