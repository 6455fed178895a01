#include "app/app_core.h"

#include "platform/app_paths.h"
#include "platform/ini_file.h"

#ifndef QUELLMARK_INSTALL_DATADIR
#define QUELLMARK_INSTALL_DATADIR "/usr/local/share"
#endif

TAppCore::TAppCore(TDriverView& view)
    : Settings(TSettings::Defaults()),
      LanguageDir(platform::LanguageDir(QUELLMARK_INSTALL_DATADIR)),
      Routing(Components),
      Files(Routing, Settings.subdirs),
      Driver(Settings, Files, Routing, Language, view),
      Grab(Settings, Files, Routing, Components, Driver, Language, view),
      view_(view) {
  Driver.BindSinks();
}

TAppCore::~TAppCore() {
  // Sinks stop before anything they report to goes away: the driver's own
  // sets first, then the one every driver shares.
  Driver.ReleaseLanes();
  Components.Owner.reset();
}

void TAppCore::LoadSettings(const std::filesystem::path& file) {
  Settings.Load(platform::TIniFile(file));
  ApplyThreadPriority();
}

void TAppCore::SaveSettings(const std::filesystem::path& file) const {
  platform::TIniFile ini(file);
  Settings.Save(ini);
}

void TAppCore::ApplyThreadPriority() {
  const TSinkRoute* wav = Routing.SinkFor(0);
  if (wav != nullptr && Settings.threadPrioriry >= kMinThreadPriority &&
      Settings.threadPrioriry <= kMaxThreadPriority) {
    wav->Sink->SetThreadPriority(Settings.threadPrioriry);
  }
}

void TAppCore::LoadLanguage(const std::string& name) {
  Language.Apply(TLanguageTable::FileFor(LanguageDir, name));
}

std::vector<std::string> TAppCore::AddPaths(const std::vector<std::string>& paths) {
  Driver.RunMode = kRunModeConvert;
  view_.RemoveListPopup();
  return Files.AddPaths(paths);
}

std::vector<std::string> TAppCore::DropPaths(const std::vector<std::string>& paths) {
  if (paths.empty()) return {};
  Files.Clear();
  return AddPaths(paths);
}

std::vector<std::string> TAppCore::AddFolder(const std::string& folder) {
  Settings.OutputDir = folder;
  Driver.RunMode = kRunModeConvert;
  view_.RemoveListPopup();
  if (Settings.OutputDir.empty() || Settings.OutputDir.back() != '/') Settings.OutputDir += '/';
  std::vector<std::string> collected;
  TFileList::CollectFolder(Settings.OutputDir, collected);
  return AddPaths(collected);
}
