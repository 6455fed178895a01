#include "app/settings.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "pipeline/sample_rate.h"
#include "platform/app_paths.h"
#include "platform/ini_file.h"


TSettings::TSettings(std::string programDir) : OutputDir(std::move(programDir)) {}

namespace {

std::string NotValidIntegerMessage(std::string_view text) {
  const std::string_view pattern = kMsgNotValidInteger;
  const auto at = pattern.find("%s");
  std::string message(pattern.substr(0, at));
  message.append(text);
  message.append(pattern.substr(at + 2));
  return message;
}

bool TextToSampleRate(std::string_view text, int& value) {
  return platform::ParseIniInteger(text, value) && IsSupportedSampleRate(value);
}

}  // namespace

int SettingTextToInt(std::string_view text) {
  int value = 0;
  if (!platform::ParseIniInteger(text, value)) throw std::runtime_error(NotValidIntegerMessage(text));
  return value;
}

int SettingTextToSampleRate(std::string_view text) {
  int value = 0;
  if (!TextToSampleRate(text, value)) throw std::runtime_error(NotValidIntegerMessage(text));
  return value;
}

TSettings TSettings::Defaults() {
  const std::string dir = platform::ProgramDir();
  return TSettings(platform::IsWritableDir(dir) ? dir : platform::HomeDir());
}

const std::array<const char*, 15>& TSettings::KeyNames() {
  static const std::array<const char*, 15> names = {
      "Language", "OutputDir",  "driveType",  "threadPrioriry", "asInput",
      "deleteSource", "subdirs", "outputType", "Bitrate",        "oggQuality",
      "apeCompression", "wavCh", "wavBps",     "wavSr",          "wavFormat"};
  return names;
}

void TSettings::Load(const platform::TIniFile& ini) {
  const char* s = kSettingsSection;
  Language = ini.ReadString(s, "Language", Language);
  OutputDir = ini.ReadString(s, "OutputDir", OutputDir);
  driveType = ini.ReadInteger(s, "driveType", driveType);
  threadPrioriry = ini.ReadInteger(s, "threadPrioriry", threadPrioriry);
  asInput = ini.ReadBool(s, "asInput", asInput);
  deleteSource = ini.ReadBool(s, "deleteSource", deleteSource);
  subdirs = ini.ReadBool(s, "subdirs", subdirs);
  outputType = ini.ReadInteger(s, "outputType", outputType);
  Bitrate = ini.ReadString(s, "Bitrate", Bitrate);
  oggQuality = ini.ReadInteger(s, "oggQuality", oggQuality);
  apeCompression = ini.ReadInteger(s, "apeCompression", apeCompression);
  wavCh = ini.ReadInteger(s, "wavCh", wavCh);
  wavBps = ini.ReadInteger(s, "wavBps", wavBps);
  wavSr = ini.ReadInteger(s, "wavSr", wavSr);
  wavFormat = ini.ReadInteger(s, "wavFormat", wavFormat);
}

void TSettings::Save(platform::TIniFile& ini) const {
  const char* s = kSettingsSection;
  ini.WriteString(s, "Language", Language);
  ini.WriteString(s, "OutputDir", OutputDir);
  ini.WriteInteger(s, "driveType", driveType);
  ini.WriteInteger(s, "threadPrioriry", threadPrioriry);
  ini.WriteBool(s, "asInput", asInput);
  ini.WriteBool(s, "deleteSource", deleteSource);
  ini.WriteBool(s, "subdirs", subdirs);
  ini.WriteInteger(s, "outputType", outputType);
  ini.WriteString(s, "Bitrate", Bitrate);
  ini.WriteInteger(s, "oggQuality", oggQuality);
  ini.WriteInteger(s, "apeCompression", apeCompression);
  ini.WriteInteger(s, "wavCh", wavCh);
  ini.WriteInteger(s, "wavBps", wavBps);
  ini.WriteInteger(s, "wavSr", wavSr);
  ini.WriteInteger(s, "wavFormat", wavFormat);
}

bool TSettings::SetByName(std::string_view key, std::string_view value, std::string* Problem) {
  if (Problem) Problem->clear();
  if (key == "Language") {
    Language = std::string(value);
    return true;
  }
  if (key == "OutputDir") {
    OutputDir = std::string(value);
    return true;
  }
  if (key == "Bitrate") {
    Bitrate = std::string(value);
    return true;
  }
  int number = 0;
  const bool isRate = key == "wavSr";
  if (!(isRate ? TextToSampleRate(value, number) : platform::ParseIniInteger(value, number))) {
    if (Problem && std::find(KeyNames().begin(), KeyNames().end(), key) != KeyNames().end())
      *Problem = NotValidIntegerMessage(value);
    return false;
  }
  struct IntKey {
    const char* name;
    int TSettings::*field;
  };
  static const IntKey intKeys[] = {
      {"driveType", &TSettings::driveType},   {"threadPrioriry", &TSettings::threadPrioriry},
      {"outputType", &TSettings::outputType}, {"oggQuality", &TSettings::oggQuality},
      {"apeCompression", &TSettings::apeCompression}, {"wavCh", &TSettings::wavCh},
      {"wavBps", &TSettings::wavBps},         {"wavSr", &TSettings::wavSr},
      {"wavFormat", &TSettings::wavFormat}};
  for (const auto& k : intKeys) {
    if (key == k.name) {
      this->*k.field = number;
      return true;
    }
  }
  struct BoolKey {
    const char* name;
    bool TSettings::*field;
  };
  static const BoolKey boolKeys[] = {{"asInput", &TSettings::asInput},
                                     {"deleteSource", &TSettings::deleteSource},
                                     {"subdirs", &TSettings::subdirs}};
  for (const auto& k : boolKeys) {
    if (key == k.name) {
      this->*k.field = number != 0;
      return true;
    }
  }
  return false;
}

