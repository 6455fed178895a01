#include "cdaudio/cdrip_library.h"

#include <mutex>
#include <stdexcept>

#include "platform/app_paths.h"
#include "platform/dynamic_library.h"
#include "platform/ini_file.h"

namespace {

platform::DynamicLibrary& Library() {
  static platform::DynamicLibrary library(kCDRipLibraryFileName);
  return library;
}

TCDRipLibrary& Exports() {
  static TCDRipLibrary exports;
  return exports;
}

bool BindExports(platform::DynamicLibrary& lib) {
  TCDRipLibrary& e = Exports();
  bool ok = true;
  const auto bind = [&](auto& fn, const char* name) { ok = lib.Bind(fn, name) && ok; };
  bind(e.Init, "CR_Init");
  bind(e.DeInit, "CR_DeInit");
  bind(e.GetCDRipVersion, "CR_GetCDRipVersion");
  bind(e.GetNumCDROM, "CR_GetNumCDROM");
  bind(e.GetActiveCDROM, "CR_GetActiveCDROM");
  bind(e.SetActiveCDROM, "CR_SetActiveCDROM");
  bind(e.SelectCDROMType, "CR_SelectCDROMType");
  bind(e.GetCDROMType, "CR_GetCDROMType");
  bind(e.GetCDROMParameters, "CR_GetCDROMParameters");
  bind(e.SetCDROMParameters, "CR_SetCDROMParameters");
  bind(e.OpenRipper, "CR_OpenRipper");
  bind(e.CloseRipper, "CR_CloseRipper");
  bind(e.GetPercentCompleted, "CR_GetPercentCompleted");
  bind(e.GetPeakValue, "CR_GetPeakValue");
  bind(e.GetNumberOfJitterErrors, "CR_GetNumberOfJitterErrors");
  bind(e.GetJitterPosition, "CR_GetJitterPosition");
  bind(e.RipChunk, "CR_RipChunk");
  bind(e.LoadSettings, "CR_LoadSettings");
  bind(e.SaveSettings, "CR_SaveSettings");
  bind(e.NormalizeChunk, "CR_NormalizeChunk");
  bind(e.ReadToc, "CR_ReadToc");
  bind(e.ReadCDText, "CR_ReadCDText");
  bind(e.GetNumTocEntries, "CR_GetNumTocEntries");
  bind(e.GetTocEntry, "CR_GetTocEntry");
  bind(e.IsUnitReady, "CR_IsUnitReady");
  bind(e.IsMediaLoaded, "CR_IsMediaLoaded");
  bind(e.EjectCD, "CR_EjectCD");
  bind(e.IsAudioPlaying, "CR_IsAudioPlaying");
  bind(e.PlayTrack, "CR_PlayTrack");
  bind(e.StopPlayTrack, "CR_StopPlayTrack");
  bind(e.PauseCD, "CR_PauseCD");
  bind(e.GetCDStatusInfo, "CR_GetCDStatusInfo");
  bind(e.LockCD, "CR_LockCD");
  bind(e.GetSubChannelTrackInfo, "CR_GetSubChannelTrackInfo");
  bind(e.GetPlayPosition, "CR_GetPlayPosition");
  bind(e.SetPlayPosition, "CR_SetPlayPosition");
  bind(e.PlaySection, "CR_PlaySection");
  bind(e.GetLastJitterErrorPosition, "CR_GetLastJitterErrorPosition");
  bind(e.GetCurrentRipSector, "CR_GetCurrentRipSector");
  bind(e.SetTransportLayer, "CR_SetTransportLayer");
  bind(e.GetTransportLayer, "CR_GetTransportLayer");
  bind(e.ScanForC2Errors, "CR_ScanForC2Errors");
  bind(e.GetJitterCorrection, "CR_GetJitterCorrection");
  bind(e.SetJitterCorrection, "CR_SetJitterCorrection");
  bind(e.GetReadSectors, "CR_GetReadSectors");
  bind(e.SetReadSectors, "CR_SetReadSectors");
  bind(e.GetOverlapSectors, "CR_GetOverlapSectors");
  bind(e.SetOverlapSectors, "CR_SetOverlapSectors");
  bind(e.GetCompareSectors, "CR_GetCompareSectors");
  bind(e.SetCompareSectors, "CR_SetCompareSectors");
  bind(e.GetEnableMultiRead, "CR_GetEnableMultiRead");
  bind(e.SetEnableMultiRead, "CR_SetEnableMultiRead");
  bind(e.GetMultiReadCount, "CR_GetMultiReadCount");
  bind(e.SetMultiReadCount, "CR_SetMultiReadCount");
  bind(e.GetDriveID, "CR_GetDriveID");
  bind(e.GetStructPointer, "CR_GetStructPointer");
  bind(e.IsParanoidMode, "CR_IsParanoidMode");
  bind(e.SetParanoidMode, "CR_SetParanoidMode");
  bind(e.GetParanoiaMode, "CR_GetParanoiaMode");
  bind(e.SetParanoiaMode, "CR_SetParanoiaMode");
  bind(e.LockCDTrayWhileRipping, "CR_LockCDTrayWhileRipping");
  bind(e.AddCDROM, "CR_AddCDROM");
  bind(e.GetDriveName, "CR_GetDriveName");
  bind(e.GetLastMessage, "CR_GetLastMessage");
  return ok;
}

std::mutex& UsersLock() {
  static std::mutex lock;
  return lock;
}
int g_users = 0;

void WriteSettingsFile() {
  // The library keeps its settings in memory and never reads this file; it
  // is written as the Windows NT family of systems had it. A folder that
  // cannot be written must not keep the CD from being read.
  try {
    platform::TIniFile ini(CDRipSettingsFolder() / kCDRipSettingsFileName);
    ini.WriteString("CD-ROM", "nActive", "0");
    ini.WriteString("CD-ROM", "nTransportLayer", "1");
  } catch (const std::exception&) {
  }
}

}  // namespace

const TCDRipLibrary* LoadCDRipLibrary() { return Library().Load(BindExports) ? &Exports() : nullptr; }

std::filesystem::path CDRipSettingsFolder() {
  std::filesystem::path dir = platform::ApplicationDataDir();
  if (dir.empty()) dir = platform::ProgramDir();
  std::string text = dir.string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

const TCDRipLibrary* AcquireCDRipLibrary() {
  std::lock_guard lock(UsersLock());
  const TCDRipLibrary* lib = LoadCDRipLibrary();
  if (lib == nullptr) return nullptr;
  if (g_users++ == 0) {
    WriteSettingsFile();
    lib->Init(1);
  }
  return lib;
}

void ReleaseCDRipLibrary() {
  std::lock_guard lock(UsersLock());
  if (g_users == 0) return;
  if (--g_users == 0) Exports().DeInit();
}

std::string CDRipErrorText(int Code) {
  switch (Code) {
    case CR_OK: return "no error";
    case CR_ERR_NOT_SUPPORTED: return "not supported";
    case CR_ERR_NOT_INITIALISED: return "the library is not initialised";
    case CR_ERR_NO_DRIVE: return "no such drive";
    case CR_ERR_NO_MEDIA: return "no disc in the drive";
    case CR_ERR_NO_TOC: return "the table of contents cannot be read";
    case CR_ERR_INVALID_PARAMETER: return "invalid parameter";
    case CR_ERR_RANGE: return "the range is outside the disc";
    case CR_ERR_DATA_TRACK: return "the range covers a data track";
    case CR_ERR_RIPPER_OPEN: return "another rip is running";
    case CR_ERR_RIPPER_CLOSED: return "no rip is running";
    case CR_ERR_READ: return "read error";
    case CR_ERR_UNVERIFIED: return "the audio could not be verified";
    case CR_ERR_BUFFER_TOO_SMALL: return "buffer too small";
    case CR_ERR_ABORTED: return "aborted";
    default: return "error " + std::to_string(Code);
  }
}
