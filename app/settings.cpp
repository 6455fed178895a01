#include "app/settings.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "pipeline/au_exception.h"
#include "pipeline/sample_rate.h"
#include "platform/app_paths.h"
#include "platform/ini_file.h"

namespace {

// The keys of the program, in the order they are read and written.
struct TKey {
  enum class TKind { String, Integer, Boolean };
  const char* Name;
  TKind Kind;
  std::string TSettings::*String = nullptr;
  int TSettings::*Integer = nullptr;
  bool TSettings::*Boolean = nullptr;
  // The window's own state: read and written with the others, never set by
  // name (quellmark-cli has no window).
  bool Window = false;
};

TKey Str(const char* name, std::string TSettings::*field) { return {name, TKey::TKind::String, field}; }
TKey Int(const char* name, int TSettings::*field) { return {name, TKey::TKind::Integer, nullptr, field}; }
TKey Bool(const char* name, bool TSettings::*field) {
  return {name, TKey::TKind::Boolean, nullptr, nullptr, field};
}
TKey Window(TKey key) {
  key.Window = true;
  return key;
}

const std::vector<TKey>& ProgramKeys() {
  static const std::vector<TKey> keys = {
      Str("Language", &TSettings::Language),       Str("OutputDir", &TSettings::OutputDir),
      Int("driveType", &TSettings::driveType),     Int("threadPrioriry", &TSettings::threadPrioriry),
      Bool("asInput", &TSettings::asInput),        Bool("deleteSource", &TSettings::deleteSource),
      Bool("subdirs", &TSettings::subdirs),        Int("outputType", &TSettings::outputType),
      Str("Bitrate", &TSettings::Bitrate),         Int("oggQuality", &TSettings::oggQuality),
      Int("apeCompression", &TSettings::apeCompression), Int("wavCh", &TSettings::wavCh),
      Int("wavBps", &TSettings::wavBps),           Int("wavSr", &TSettings::wavSr),
      Int("wavFormat", &TSettings::wavFormat),
      Str("audioDevice", &TSettings::audioDevice),
      Int("existingOutput", &TSettings::existingOutput),
      Int("jobs", &TSettings::jobs),
      Window(Int("WindowLeft", &TSettings::WindowLeft)),
      Window(Int("WindowTop", &TSettings::WindowTop)),
      Window(Int("WindowWidth", &TSettings::WindowWidth)),
      Window(Int("WindowHeight", &TSettings::WindowHeight)),
      Window(Bool("WindowMaximized", &TSettings::WindowMaximized)),
      Window(Str("LastFolder", &TSettings::LastFolder))};
  return keys;
}

const TKey* ProgramKey(std::string_view name) {
  for (const TKey& k : ProgramKeys()) {
    if (name == k.Name) return &k;
  }
  return nullptr;
}

// The format keys that are not among the program's own.
const std::vector<const TFormatSetting*>& ExtraFormatKeys() {
  static const std::vector<const TFormatSetting*> extra = [] {
    std::vector<const TFormatSetting*> v;
    for (const TFormatSetting* s : format_catalog::Settings()) {
      if (ProgramKey(s->Key) == nullptr) v.push_back(s);
    }
    return v;
  }();
  return extra;
}

const TFormatSetting* ExtraFormatKey(std::string_view name) {
  for (const TFormatSetting* s : ExtraFormatKeys()) {
    if (s->Key == name) return s;
  }
  return nullptr;
}

}  // namespace

TSettings::TSettings(std::string programDir) : OutputDir(std::move(programDir)) {}

namespace {

std::string NotValidIntegerMessage(std::string_view text) { return FormatMessage(kFmtNotValidInteger, {text}); }

}  // namespace

int SettingTextToInt(std::string_view text) {
  int value = 0;
  if (!platform::ParseIniInteger(text, value)) throw EAuException(NotValidIntegerMessage(text));
  return value;
}

int SettingTextToInt(const TFormatSetting& setting, std::string_view text) {
  const int value = SettingTextToInt(text);
  if (!setting.Accepts(value)) throw EAuException(NotValidIntegerMessage(text));
  return value;
}

TSettings TSettings::Defaults() {
  const std::string dir = platform::ProgramDir();
  return TSettings(platform::IsWritableDir(dir) ? dir : platform::HomeDir());
}

const std::vector<std::string>& TSettings::KeyNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const TKey& k : ProgramKeys()) v.emplace_back(k.Name);
    for (const TFormatSetting* s : ExtraFormatKeys()) v.push_back(s->Key);
    return v;
  }();
  return names;
}

void TSettings::Load(const platform::TIniFile& ini) {
  const char* s = kSettingsSection;
  for (const TKey& k : ProgramKeys()) {
    switch (k.Kind) {
      case TKey::TKind::String: this->*k.String = ini.ReadString(s, k.Name, this->*k.String); break;
      case TKey::TKind::Integer: this->*k.Integer = ini.ReadInteger(s, k.Name, this->*k.Integer); break;
      case TKey::TKind::Boolean: this->*k.Boolean = ini.ReadBool(s, k.Name, this->*k.Boolean); break;
    }
  }
  for (const TFormatSetting* f : ExtraFormatKeys()) {
    const std::string current = Text(f->Key);
    if (f->Kind == TFormatSetting::TKind::Integer) {
      int def = 0;
      platform::ParseIniInteger(current, def);
      FormatValues[f->Key] = std::to_string(ini.ReadInteger(s, f->Key, def));
    } else {
      FormatValues[f->Key] = ini.ReadString(s, f->Key, current);
    }
  }
}

void TSettings::Save(platform::TIniFile& ini) const {
  const char* s = kSettingsSection;
  for (const TKey& k : ProgramKeys()) {
    switch (k.Kind) {
      case TKey::TKind::String: ini.WriteString(s, k.Name, this->*k.String); break;
      case TKey::TKind::Integer: ini.WriteInteger(s, k.Name, this->*k.Integer); break;
      case TKey::TKind::Boolean: ini.WriteBool(s, k.Name, this->*k.Boolean); break;
    }
  }
  for (const TFormatSetting* f : ExtraFormatKeys()) ini.WriteString(s, f->Key, Text(f->Key));
}

bool TSettings::SetByName(std::string_view key, std::string_view value, std::string* Problem) {
  if (Problem) Problem->clear();
  const TKey* program = ProgramKey(key);
  const TFormatSetting* declared = format_catalog::Setting(std::string(key));
  if (program == nullptr && declared == nullptr) return false;
  if (program != nullptr && program->Window) return false;
  const bool integer = program != nullptr ? program->Kind != TKey::TKind::String
                                          : declared->Kind == TFormatSetting::TKind::Integer;
  int number = 0;
  if (integer && (!platform::ParseIniInteger(value, number) || (declared != nullptr && !declared->Accepts(number)))) {
    if (Problem) *Problem = NotValidIntegerMessage(value);
    return false;
  }
  if (program == nullptr) {
    FormatValues[std::string(key)] = integer ? std::to_string(number) : std::string(value);
    return true;
  }
  switch (program->Kind) {
    case TKey::TKind::String: this->*program->String = std::string(value); break;
    case TKey::TKind::Integer: this->*program->Integer = number; break;
    case TKey::TKind::Boolean: this->*program->Boolean = number != 0; break;
  }
  return true;
}

int TSettings::Integer(const std::string& key) const {
  if (const TKey* k = ProgramKey(key)) {
    switch (k->Kind) {
      case TKey::TKind::String: {
        int value = 0;
        return platform::ParseIniInteger(this->*k->String, value) ? value : 0;
      }
      case TKey::TKind::Integer: return this->*k->Integer;
      case TKey::TKind::Boolean: return this->*k->Boolean ? 1 : 0;
    }
  }
  int value = 0;
  if (platform::ParseIniInteger(Text(key), value)) return value;
  if (const TFormatSetting* f = ExtraFormatKey(key)) platform::ParseIniInteger(f->Default, value);
  return value;
}

std::string TSettings::Text(const std::string& key) const {
  if (const TKey* k = ProgramKey(key)) {
    switch (k->Kind) {
      case TKey::TKind::String: return this->*k->String;
      case TKey::TKind::Integer: return std::to_string(this->*k->Integer);
      case TKey::TKind::Boolean: return this->*k->Boolean ? "1" : "0";
    }
  }
  const auto it = FormatValues.find(key);
  if (it != FormatValues.end()) return it->second;
  const TFormatSetting* f = ExtraFormatKey(key);
  return f != nullptr ? f->Default : std::string();
}
