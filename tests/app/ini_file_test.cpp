#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/support/support.h"

using namespace qmtest;

using platform::TIniFile;

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
  TTempDir dir;
  TIniFile none(dir / "absent.ini");
  EXPECT_EQ(none.ReadString("Options", "Language", "English"), "English");
  EXPECT_EQ(none.ReadInteger("Options", "wavSr", 22050), 22050);

  WriteText(dir / "a.ini", "[Other]\nLanguage=Russian\n[Options]\nwavSr=44100\n");
  TIniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.ReadString("Options", "Language", "English"), "English");
  EXPECT_EQ(ini.ReadString("Missing", "wavSr", "x"), "x");
  EXPECT_EQ(ini.ReadInteger("Options", "wavSr", 0), 44100);
}

TEST(IniFile, NamesIgnoreCaseAndValuesAreTrimmedAfterTheFirstEquals) {
  TIniFile ini("");
  ini.Parse("\xEF\xBB\xBF; comment\r\n  [ options ]  \r\n  OutputDir =  /a=b/c  \r\nq=\"  x \"\r\n"
            "empty=\r\nnoequals\r\n");
  EXPECT_EQ(ini.ReadString("OPTIONS", "outputdir", ""), "/a=b/c");
  EXPECT_EQ(ini.ReadString("Options", "q", ""), "  x ");
  EXPECT_EQ(ini.ReadString("Options", "empty", "d"), "");
  EXPECT_EQ(ini.ReadString("Options", "noequals", "d"), "d");
  EXPECT_TRUE(ini.SectionExists("options"));
}

TEST(IniFile, FirstOccurrenceWinsAndKeysBelongToTheirSection) {
  TIniFile ini("");
  ini.Parse("[A]\nk=1\nk=2\n[B]\nk=3\n[a]\nk=4\n");
  EXPECT_EQ(ini.ReadInteger("A", "k", 0), 1);
  EXPECT_EQ(ini.ReadInteger("B", "k", 0), 3);
}

TEST(IniFile, IntegersAndBooleans) {
  TIniFile ini("");
  ini.Parse("[S]\na=5\nb=0\nc=-12\nd=12abc\ne=99999999999\nf= +7 \ng=\n");
  EXPECT_TRUE(ini.ReadBool("S", "a", false));
  EXPECT_FALSE(ini.ReadBool("S", "b", true));
  EXPECT_EQ(ini.ReadInteger("S", "c", 0), -12);
  EXPECT_EQ(ini.ReadInteger("S", "d", 3), 3);
  EXPECT_EQ(ini.ReadInteger("S", "e", 3), 3);
  EXPECT_EQ(ini.ReadInteger("S", "f", 3), 7);
  EXPECT_EQ(ini.ReadInteger("S", "g", 3), 3);
  EXPECT_TRUE(ini.ReadBool("S", "g", true));
}

TEST(IniFile, WritingReplacesInPlaceAppendsToItsSectionAndKeepsOtherLines) {
  TTempDir dir;
  const auto file = dir / "s.ini";
  WriteText(file, "; kept\r\n[Options]\r\nwavSr = 8000\r\nmine=keep me\r\n\r\n[Other]\r\nx=1\r\n");
  TIniFile ini(file);
  ini.WriteInteger("options", "WAVSR", 44100);
  ini.WriteString("Options", "Language", "Russian");
  ini.WriteString("New", "k", "v");
  EXPECT_EQ(ReadText(file),
            "; kept\r\n[Options]\r\nWAVSR=44100\r\nmine=keep me\r\nLanguage=Russian\r\n\r\n"
            "[Other]\r\nx=1\r\n\r\n[New]\r\nk=v\r\n");
  TIniFile again(file);
  EXPECT_EQ(again.ReadInteger("Options", "wavSr", 0), 44100);
  EXPECT_EQ(again.ReadString("Other", "x", ""), "1");
}

TEST(IniFile, WritingCreatesTheFileAndKeepsValuesOnOneLine) {
  TTempDir dir;
  const auto file = dir / "new.ini";
  TIniFile ini(file);
  ini.WriteString("Options", "OutputDir", "/x\n[Evil]\nk=1");
  TIniFile again(file);
  EXPECT_FALSE(again.SectionExists("Evil"));
  EXPECT_EQ(again.ReadString("Options", "OutputDir", ""), "/x [Evil] k=1");
}

TEST(IniFile, AFailedWriteRaisesWithThePath) {
  TTempDir dir;
  const auto file = dir / "no-such-folder" / "s.ini";
  TIniFile ini(file);
  try {
    ini.WriteString("Options", "Language", "English");
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + file.string());
  }
}

TEST(IniFile, HostileTextIsReadSafely) {
  TIniFile ini("");
  std::string text = "[";  // a header that never closes
  text += std::string(1000, '[');
  text += "\n=\n==\n[]\n=x\n";
  text += std::string("\0garbage\n", 9);
  text += std::string(100000, '\r');
  text += "[S]\nk=v";  // no final line break
  ini.Parse(text);
  EXPECT_EQ(ini.ReadString("S", "k", ""), "v");
  EXPECT_EQ(ini.ReadString("", "", "d"), "x");
}
