#include "app/settings.h"

#include <gtest/gtest.h>

#include <set>

#include "codecs/format_catalog.h"

#include "platform/ini_file.h"
#include "tests/support/support.h"

using namespace qmtest;

using platform::TIniFile;

TEST(Settings, FirstRunGivesTheDefaultsAndSavingWritesEveryKeyInOrder) {
  TTempDir dir;
  const auto file = dir / "quellmark.ini";
  TSettings s("/opt/q/");
  s.Load(TIniFile(file));
  EXPECT_EQ(s.Language, "English");
  EXPECT_EQ(s.OutputDir, "/opt/q/");
  EXPECT_EQ(s.outputType, 0);
  EXPECT_EQ(s.wavBps, 8);
  EXPECT_EQ(s.wavCh, 1);
  EXPECT_EQ(s.wavSr, 22050);
  EXPECT_EQ(s.wavFormat, 0);
  EXPECT_TRUE(s.asInput);
  EXPECT_FALSE(s.deleteSource);
  EXPECT_TRUE(s.subdirs);
  EXPECT_EQ(s.threadPrioriry, 3);
  EXPECT_EQ(s.Bitrate, "128");

  // After the program's keys, the other formats' keys at their defaults.
  const std::set<std::string> programKeys = {"Bitrate", "oggQuality", "apeCompression", "wavCh",
                                             "wavBps",  "wavSr",      "wavFormat"};
  std::string formatKeys;
  for (const TFormatSetting* f : format_catalog::Settings()) {
    if (programKeys.count(f->Key) == 0) formatKeys += f->Key + "=" + f->Default + "\n";
  }
  TIniFile ini(file);
  s.Save(ini);
  EXPECT_EQ(ReadText(file),
            "[Options]\nLanguage=English\nOutputDir=/opt/q/\ndriveType=0\nthreadPrioriry=3\n"
            "asInput=1\ndeleteSource=0\nsubdirs=1\noutputType=0\nBitrate=128\noggQuality=3\n"
            "apeCompression=2000\nwavCh=1\nwavBps=8\nwavSr=22050\nwavFormat=0\naudioDevice=default\nexistingOutput=0\njobs=0\n"
            "WindowLeft=0\nWindowTop=0\nWindowWidth=0\nWindowHeight=0\nWindowMaximized=0\nLastFolder=\n" +
                formatKeys);
}

TEST(Settings, StoredValuesRoundTrip) {
  TTempDir dir;
  const auto file = dir / "quellmark.ini";
  WriteText(file,
                      "[Options]\nthreadPrioriry=9\nasInput=5\nBitrate=112\nwavSr=abc\n"
                      "deleteSource=0\nLanguage=Klingon\n");
  TSettings s("/p/");
  s.Load(TIniFile(file));
  EXPECT_EQ(s.threadPrioriry, 9);
  EXPECT_TRUE(s.asInput);
  EXPECT_EQ(s.Bitrate, "112");
  EXPECT_EQ(s.wavSr, 22050);  // unparsable: the default
  EXPECT_EQ(s.Language, "Klingon");

  TIniFile ini(file);
  s.Save(ini);
  TIniFile back(file);
  EXPECT_EQ(back.ReadString("Options", "threadPrioriry", ""), "9");
  EXPECT_EQ(back.ReadString("Options", "asInput", ""), "1");
  EXPECT_EQ(back.ReadString("Options", "wavSr", ""), "22050");
  EXPECT_EQ(back.ReadString("Options", "Language", ""), "Klingon");
}

TEST(Settings, SetByNameTakesExactKeyNames) {
  TSettings s;
  EXPECT_TRUE(s.SetByName("outputType", "0"));
  EXPECT_TRUE(s.SetByName("wavSr", "44100"));
  EXPECT_TRUE(s.SetByName("asInput", "0"));
  EXPECT_TRUE(s.SetByName("OutputDir", "/music/converted"));
  EXPECT_TRUE(s.SetByName("Bitrate", "192"));
  EXPECT_EQ(s.wavSr, 44100);
  EXPECT_FALSE(s.asInput);
  EXPECT_EQ(s.OutputDir, "/music/converted");
  EXPECT_FALSE(s.SetByName("wavsr", "8000"));      // names are exact
  EXPECT_FALSE(s.SetByName("wavCh", "two"));       // integers must parse
  EXPECT_FALSE(s.SetByName("threadPriority", "1"));
  EXPECT_EQ(s.wavSr, 44100);
  EXPECT_EQ(s.wavCh, 1);
}

// A sample rate the engine does not take (outside 1 Hz ... 768 kHz, as
// "wavSr=-1" is) is refused like a text that is no integer, with its text.
TEST(Settings, SampleRatesOutsideTheEngineRangeAreRefused) {
  TSettings s;
  std::string problem;
  for (const char* text : {"-1", "0", "768001", "2147483647"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(s.SetByName("wavSr", text, &problem));
    EXPECT_EQ(problem, std::string("'") + text + "' is not a valid integer value");
    try {
      SettingTextToInt(*format_catalog::Setting("wavSr"), text);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), problem);
    }
  }
  EXPECT_EQ(s.wavSr, 22050);
  EXPECT_TRUE(s.SetByName("wavSr", "768000", &problem));
  EXPECT_EQ(problem, "");
  EXPECT_EQ(SettingTextToInt(*format_catalog::Setting("wavSr"), "1"), 1);
  // Other keys keep taking any integer; an unknown key has no problem text.
  EXPECT_TRUE(s.SetByName("wavCh", "-1"));
  EXPECT_FALSE(s.SetByName("wavCh", "two", &problem));
  EXPECT_EQ(problem, "'two' is not a valid integer value");
  EXPECT_FALSE(s.SetByName("nokey", "1", &problem));
  EXPECT_EQ(problem, "");
}

// The window's own state travels in the same file but means nothing to a
// conversion, so it cannot be set by name (quellmark-cli's --set).
TEST(Settings, WindowStateIsStoredButNotSetByName) {
  TTempDir dir;
  const auto file = dir / "quellmark.ini";
  WriteText(file, "[Options]\nWindowLeft=-1200\nWindowTop=40\nWindowWidth=900\nWindowHeight=abc\n"
                            "WindowMaximized=1\nLastFolder=/music/in\n");
  TSettings s;
  s.Load(TIniFile(file));
  EXPECT_EQ(s.WindowLeft, -1200);  // a screen left of the primary one
  EXPECT_EQ(s.WindowTop, 40);
  EXPECT_EQ(s.WindowWidth, 900);
  EXPECT_EQ(s.WindowHeight, 0);
  EXPECT_TRUE(s.WindowMaximized);
  EXPECT_EQ(s.LastFolder, "/music/in");
  for (const char* key : {"WindowLeft", "WindowTop", "WindowWidth", "WindowHeight", "WindowMaximized", "LastFolder"}) {
    EXPECT_FALSE(s.SetByName(key, "1")) << key;
  }
  EXPECT_EQ(s.WindowLeft, -1200);
  EXPECT_EQ(s.LastFolder, "/music/in");
}
