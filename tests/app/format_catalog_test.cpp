// Everything that lists formats agrees with the format catalog: the file
// list's extensions, the open dialog's filter, the routing of the pipeline
// set, the settings keys and the interface texts of format settings.
#include "codecs/format_catalog.h"

#include <gtest/gtest.h>

#include <set>

#include "app/app_core.h"
#include "app/language_table.h"
#include "platform/app_paths.h"
#include "platform/ini_file.h"

namespace {

class TNoView : public TDriverView {
 public:
  void ShowProgressPanel(bool) override {}
  void SetGauge(int) override {}
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void ShowError(const std::string&) override {}
};

}  // namespace

TEST(FormatCatalog, OutputTypesRunFromZeroAndEveryFormatIsWhole) {
  const auto& all = format_catalog::All();
  ASSERT_FALSE(all.empty());
  std::set<std::string> names, exts;
  int next = 0;
  for (const TFormatDescriptor* f : all) {
    EXPECT_TRUE(names.insert(f->Name).second) << f->Name;
    for (const std::string& ext : f->InputExtensions) {
      EXPECT_TRUE(exts.insert(ext).second) << ext << " is read by two formats";
      EXPECT_EQ(ext, TFileList::LowerExt("x" + ext)) << "extensions are lower case with their dot";
      EXPECT_EQ(format_catalog::ForExtension(ext), f);
    }
    if (f->OutputType >= 0) {
      EXPECT_EQ(f->OutputType, next++) << f->Name << ": output types have no gaps";
      EXPECT_EQ(format_catalog::ForOutputType(f->OutputType), f);
      EXPECT_FALSE(f->OutputExtension.empty()) << f->Name;
      EXPECT_FALSE(f->SinkName.empty()) << f->Name;
    }
    if (!f->InputExtensions.empty()) {
      EXPECT_FALSE(f->SourceName.empty()) << f->Name;
    }
    for (const TFormatSetting& s : f->Settings) {
      const TFormatSetting* shared = format_catalog::Setting(s.Key);
      ASSERT_NE(shared, nullptr) << s.Key;
      EXPECT_EQ(shared->ControlName, s.ControlName) << s.Key << " is declared alike wherever it is shared";
      EXPECT_EQ(shared->Default, s.Default) << s.Key;
      EXPECT_FALSE(s.LabelName.empty() || s.ControlName.empty()) << s.Key;
    }
  }
  // The five formats of the settings dialog, in their order.
  ASSERT_GE(next, 5);
  const char* const expected[] = {"WAV", "MP3", "OGG", "WMA", "APE"};
  for (int type = 0; type < 5; ++type) EXPECT_EQ(format_catalog::ForOutputType(type)->Name, expected[type]);
  EXPECT_EQ(format_catalog::ForOutputType(next), nullptr);
}

TEST(FormatCatalog, FileListAndOpenFilterComeFromTheCatalog) {
  std::vector<std::string> exts;
  for (const TFormatDescriptor* f : format_catalog::All()) {
    exts.insert(exts.end(), f->InputExtensions.begin(), f->InputExtensions.end());
  }
  EXPECT_EQ(TFileList::SupportedExtensions(), exts);
  // The open dialog names the formats that are read; some are only written.
  std::vector<const TFormatDescriptor*> read;
  for (const TFormatDescriptor* f : format_catalog::All()) {
    if (!f->InputExtensions.empty()) read.push_back(f);
  }

  // The shipped English file describes the five formats; a format it does
  // not name keeps the catalog's own description.
  TLanguageTable english;
  english.Apply(TLanguageTable::FileFor(platform::LanguageDir(), "English"));
  const auto filters = TFileList::OpenFilters(english.Text("OpenDialog1.Filter"));
  ASSERT_EQ(filters.size(), read.size() + 1);
  EXPECT_EQ(filters[0].Description, "All Supported Files");
  std::string all;
  for (const std::string& ext : exts) all += (all.empty() ? "*" : ";*") + ext;
  EXPECT_EQ(filters[0].Patterns, all);
  for (std::size_t i = 0; i < read.size(); ++i) {
    const TFormatDescriptor* f = read[i];
    std::string patterns;
    for (const std::string& ext : f->InputExtensions) patterns += (patterns.empty() ? "*" : ";*") + ext;
    EXPECT_EQ(filters[i + 1].Patterns, patterns) << f->Name;
  }
  EXPECT_EQ(filters[1].Description, "WAV Files (*.wav)");
  EXPECT_EQ(filters[5].Description, "APE File (*.ape)");

  const auto bare = TFileList::OpenFilters("");
  EXPECT_EQ(bare[0].Description, "All Supported Files");
  EXPECT_EQ(bare[2].Description, "MP3 Files (*.mp3)");
  TLanguageTable russian;
  russian.Apply(TLanguageTable::FileFor(platform::LanguageDir(), "Russian"));
  const auto translated = TFileList::OpenFilters(russian.Text("OpenDialog1.Filter"));
  EXPECT_EQ(translated[1].Description, "Файлы WAV (*.wav)");
  // The language names every format, with the catalog's patterns.
  for (std::size_t i = 0; i < read.size(); ++i) {
    const TFormatDescriptor* f = read[i];
    EXPECT_NE(translated[i + 1].Description, f->FileDescription + " (" + translated[i + 1].Patterns + ")") << f->Name;
  }
}

TEST(FormatCatalog, RoutingHasASourceAndSinkForEveryFormatThatHasComponents) {
  TNoView view;
  TAppCore core(view);
  for (const TFormatDescriptor* f : format_catalog::All()) {
    for (const std::string& ext : f->InputExtensions) {
      const TSourceRoute* route = core.Routing.SourceFor(ext);
      EXPECT_EQ(route != nullptr, f->Reads()) << ext;
      if (route == nullptr) continue;
      EXPECT_EQ(route->Source->Name(), f->SourceName);
      EXPECT_EQ(core.Components.Find(f->SourceName), route->Source);
      ASSERT_NE(route->Probe, nullptr);
      EXPECT_NE(route->Probe, route->Source);
    }
    if (f->OutputType < 0) continue;
    const TSinkRoute* sink = core.Routing.SinkFor(f->OutputType);
    EXPECT_EQ(sink != nullptr, f->Writes()) << f->Name;
    EXPECT_EQ(TFormatRouting::OutputExtFor(f->OutputType), f->OutputExtension);
    if (sink == nullptr) continue;
    EXPECT_EQ(sink->Sink->Name(), f->SinkName);
    EXPECT_TRUE(static_cast<bool>(sink->Sink->OnDone)) << f->Name << ": every sink reports to the driver";
  }
  EXPECT_NE(core.Routing.SinkFor(0), nullptr) << "this build writes WAV";
}

TEST(FormatCatalog, EveryFormatSettingIsASettingsKeyWithALanguageText) {
  const auto& keys = TSettings::KeyNames();
  const auto& texts = TLanguageTable::Keys();
  for (const TFormatSetting* s : format_catalog::Settings()) {
    EXPECT_NE(std::find(keys.begin(), keys.end(), s->Key), keys.end()) << s->Key;
    EXPECT_NE(std::find(texts.begin(), texts.end(), "FormSettings." + s->LabelName + ".Caption"), texts.end())
        << s->Key;
    TSettings settings;
    EXPECT_EQ(settings.Text(s->Key), s->Default) << s->Key << ": the fifteen keys start at their defaults";
  }
  // The declared range of the sample rate is what --set and the dialog take.
  TSettings settings;
  EXPECT_FALSE(settings.SetByName("wavSr", "0"));
  EXPECT_FALSE(settings.SetByName("wavSr", "-1"));
  EXPECT_TRUE(settings.SetByName("wavSr", "768000"));
  EXPECT_FALSE(settings.SetByName("wavSr", "768001"));
  EXPECT_EQ(settings.wavSr, 768000);
  EXPECT_EQ(settings.Integer("asInput"), 1);
  EXPECT_EQ(settings.Text("Bitrate"), "128");
  EXPECT_EQ(settings.Integer("Bitrate"), 128);
}
