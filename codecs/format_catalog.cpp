#include "codecs/format_catalog.h"

#include <algorithm>

// format_list.inc is written by the build: QUELLMARK_FORMAT(name) for every
// codecs/<name>_format.cpp.
#define QUELLMARK_FORMAT(name) QUELLMARK_FORMAT_DESCRIPTOR(name);
#include "format_list.inc"
#undef QUELLMARK_FORMAT

TFormatSetting BitrateSetting() {
  TFormatSetting s;
  s.Key = "Bitrate";
  s.Kind = TFormatSetting::TKind::Text;
  s.Default = "128";
  s.Control = TFormatSetting::TControl::TextList;
  s.Items = {"32", "48", "56", "64", "80", "96", "128", "192", "256", "320"};
  s.LabelName = "LabelBitrate";
  s.Label = "Bitrate (mp3, wma):";
  s.ControlName = "ComboBoxBitrate";
  return s;
}

namespace format_catalog {

namespace {

std::vector<const TFormatDescriptor*> Collect() {
  std::vector<const TFormatDescriptor*> all = {
#define QUELLMARK_FORMAT(name) &QuellmarkFormat_##name(),
#include "format_list.inc"
#undef QUELLMARK_FORMAT
  };
  std::stable_sort(all.begin(), all.end(), [](const TFormatDescriptor* a, const TFormatDescriptor* b) {
    const unsigned ta = static_cast<unsigned>(a->OutputType);  // -1 sorts last
    const unsigned tb = static_cast<unsigned>(b->OutputType);
    return ta < tb;
  });
  return all;
}

}  // namespace

const std::vector<const TFormatDescriptor*>& All() {
  static const std::vector<const TFormatDescriptor*> all = Collect();
  return all;
}

const TFormatDescriptor* ForExtension(const std::string& Ext) {
  for (const TFormatDescriptor* f : All()) {
    if (std::find(f->InputExtensions.begin(), f->InputExtensions.end(), Ext) != f->InputExtensions.end()) return f;
  }
  return nullptr;
}

const TFormatDescriptor* ForOutputType(int OutputType) {
  if (OutputType < 0) return nullptr;
  for (const TFormatDescriptor* f : All()) {
    if (f->OutputType == OutputType) return f;
  }
  return nullptr;
}

const std::vector<std::string>& InputExtensions() {
  static const std::vector<std::string> exts = [] {
    std::vector<std::string> v;
    for (const TFormatDescriptor* f : All()) v.insert(v.end(), f->InputExtensions.begin(), f->InputExtensions.end());
    return v;
  }();
  return exts;
}

const std::vector<const TFormatSetting*>& Settings() {
  static const std::vector<const TFormatSetting*> settings = [] {
    std::vector<const TFormatSetting*> v;
    auto add = [&v](const TFormatDescriptor& f) {
      for (const TFormatSetting& s : f.Settings) {
        const bool known = std::any_of(v.begin(), v.end(), [&s](const TFormatSetting* k) { return k->Key == s.Key; });
        if (!known) v.push_back(&s);
      }
    };
    for (const TFormatDescriptor* f : All()) {
      if (f->SettingsGroupName.empty()) add(*f);
    }
    for (const TFormatDescriptor* f : All()) {
      if (!f->SettingsGroupName.empty()) add(*f);
    }
    return v;
  }();
  return settings;
}

const TFormatSetting* Setting(const std::string& Key) {
  for (const TFormatSetting* s : Settings()) {
    if (s->Key == Key) return s;
  }
  return nullptr;
}

const TFormatDescriptor* GroupOwner(const TFormatSetting& Setting) {
  for (const TFormatDescriptor* f : All()) {
    if (f->SettingsGroupName.empty()) continue;
    for (const TFormatSetting& s : f->Settings) {
      if (&s == &Setting) return f;
    }
  }
  return nullptr;
}

}  // namespace format_catalog
