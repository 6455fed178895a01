#include "app/language_table.h"

#include <gtest/gtest.h>

#include "codecs/format_catalog.h"

#include <set>

#include "platform/app_paths.h"
#include "platform/ini_file.h"
#include "tests/support/support.h"

using namespace qmtest;

TEST(LanguageTable, MissingFileOrKeysLeaveTheCurrentTexts) {
  TTempDir dir;
  TLanguageTable table;
  table.Apply(TLanguageTable::FileFor(dir.Path(), "Klingon"));
  for (const std::string& key : TLanguageTable::Keys()) EXPECT_EQ(table.Text(key), TLanguageTable::BuiltIn(key));
  EXPECT_EQ(table.Text("StringSelectItem"), "");

  WriteText(dir / "A.ini", "[Interface]\nMFile.Caption=Datei\nMStart.Caption=Los\n");
  WriteText(dir / "B.ini", "[interface]\nmstart.caption=Go\n");
  table.Apply(TLanguageTable::FileFor(dir.Path(), "A"));
  table.Apply(TLanguageTable::FileFor(dir.Path(), "B"));
  EXPECT_EQ(table.Text("MFile.Caption"), "Datei");  // B lacks it: stays as A set it
  EXPECT_EQ(table.Text("MStart.Caption"), "Go");
  EXPECT_TRUE(TLanguageTable::FileFor(dir.Path(), "../A").empty());
}

// Every key the program applies is in both shipped files, and each file holds
// nothing else, so a translation can never silently miss a text.
TEST(LanguageTable, ShippedFilesHoldExactlyTheTablesKeys) {
  const auto& keys = TLanguageTable::Keys();
  // The window's own 88 texts, and a label for each format setting and a
  // caption for each format's own settings group.
  std::set<std::string> formatTexts;
  for (const TFormatSetting* s : format_catalog::Settings()) formatTexts.insert(s->LabelName);
  for (const TFormatDescriptor* f : format_catalog::All()) {
    if (!f->SettingsGroupName.empty()) formatTexts.insert(f->SettingsGroupName);
  }
  const std::size_t expected = 88 + formatTexts.size();
  EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), expected);
  const auto dir = platform::LanguageDir();
  for (const char* name : {"English", "Russian"}) {
    const auto file = TLanguageTable::FileFor(dir, name);
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    platform::TIniFile ini(file);
    for (const std::string& key : keys) {
      EXPECT_NE(ini.ReadString("Interface", key, "\x01missing"), "\x01missing") << name << ": " << key;
    }
    const std::string text = ReadText(file);
    int lines = 0;
    for (std::size_t at = text.find('='); at != std::string::npos; at = text.find('=', at + 1)) {
      if (at == 0 || text[text.rfind('\n', at) + 1] != ';') ++lines;
      at = text.find('\n', at);
      if (at == std::string::npos) break;
    }
    EXPECT_EQ(lines, static_cast<int>(expected)) << name;
  }
  TLanguageTable russian;
  russian.Apply(TLanguageTable::FileFor(dir, "Russian"));
  EXPECT_EQ(russian.Text("MExit.Caption"), "Выход");
  EXPECT_EQ(russian.Text("StringConverting"), "Конвертируется: ");
}
