// The CD reading library through its C interface, as the loader binds it:
// what the ripping source does not reach (range checks, the single ripper,
// aborts, CD-Text sizes, the operations it does not support), and the
// CD-Text cleaning of its core.

#include <gtest/gtest.h>

#include "disc_text.h"
#include "tests/cd/cd_test_support.h"

using namespace cdtest;
using qmtest::TTempDir;

namespace {

const TConfigHome& g_home = ConfigHome();

// One use of the library for the length of a test.
class CDRipApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Lib = AcquireCDRipLibrary();
    ASSERT_NE(Lib, nullptr) << "every export of libcdrip.so binds";
    Disc = MakeDisc(Dir.Path());
    Drive = Lib->AddCDROM(Disc.Cue.c_str());
    ASSERT_GE(Drive, 0);
    ASSERT_EQ(Lib->SetActiveCDROM(Drive), CR_OK);
    ASSERT_EQ(Lib->ReadToc(), CR_OK);
  }
  void TearDown() override {
    if (Lib != nullptr) {
      Lib->CloseRipper();
      ReleaseCDRipLibrary();
    }
  }
  TTempDir Dir;
  TDiscImage Disc;
  const TCDRipLibrary* Lib = nullptr;
  int Drive = -1;
};

TEST_F(CDRipApiTest, TheTableEndsWithTheLeadOutAndOutsideItEntriesAreEmpty) {
  ASSERT_EQ(Lib->GetNumTocEntries(), 4);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(Lib->GetTocEntry(i).dwStartSector, Disc.Starts[static_cast<std::size_t>(i)]);
  EXPECT_EQ(Lib->GetTocEntry(0).btTrackNumber, 1);
  EXPECT_EQ(Lib->GetTocEntry(4).btTrackNumber, CR_LEADOUT_TRACK);
  EXPECT_EQ(Lib->GetTocEntry(3).btFlag & CR_FLAG_DATA, CR_FLAG_DATA);
  EXPECT_EQ(Lib->GetTocEntry(2).btFlag & CR_FLAG_DATA, 0);
  for (int bad : {-1, 5, 1000}) {
    const CR_TOCENTRY e = Lib->GetTocEntry(bad);
    EXPECT_EQ(e.dwStartSector, 0);
    EXPECT_EQ(e.btTrackNumber, 0);
  }
  EXPECT_EQ(Lib->GetCDRipVersion(), CR_VERSION);
  EXPECT_EQ(Lib->GetCDROMType(), CR_TYPE_IMAGE);
  EXPECT_EQ(Lib->IsUnitReady(), 1);
  // Another drive index is no drive.
  EXPECT_EQ(Lib->SetActiveCDROM(Drive + 1), CR_ERR_NO_DRIVE);
  int status = CR_MEDIA_LOADED;
  EXPECT_EQ(Lib->IsMediaLoaded(&status), CR_ERR_NO_DRIVE);
  EXPECT_EQ(status, CR_MEDIA_NOT_LOADED);
  EXPECT_NE(Lib->ReadToc(), CR_OK);
  EXPECT_EQ(Lib->GetNumTocEntries(), 0);
}

TEST_F(CDRipApiTest, TheRipperReadsOneRangeAtATimeAndOnlyAudio) {
  const int32_t track3 = Disc.Starts[2];
  const int32_t data = Disc.Starts[3];
  const int32_t leadout = Disc.Starts[4];
  int32_t size = 10000;  // rounded down to whole sectors
  EXPECT_EQ(Lib->OpenRipper(&size, data, leadout), CR_ERR_DATA_TRACK);
  EXPECT_EQ(Lib->OpenRipper(&size, track3, data + 1), CR_ERR_DATA_TRACK);
  EXPECT_EQ(Lib->OpenRipper(&size, track3, track3 - 1), CR_ERR_RANGE);
  EXPECT_EQ(Lib->OpenRipper(&size, 0, 10), CR_ERR_RANGE) << "before track 1";
  ASSERT_EQ(Lib->OpenRipper(&size, track3, data), CR_OK);
  EXPECT_EQ(size, 4 * CR_SECTOR_BYTES);
  int32_t other = size;
  EXPECT_EQ(Lib->OpenRipper(&other, track3, data), CR_ERR_RIPPER_OPEN);

  std::vector<uint8_t> got;
  std::vector<uint8_t> chunk(static_cast<std::size_t>(size));
  int32_t abort = 1;
  int32_t bytes = -1;
  EXPECT_EQ(Lib->RipChunk(chunk.data(), &bytes, &abort), CR_ERR_ABORTED);
  EXPECT_EQ(bytes, 0);
  abort = 0;
  for (;;) {
    ASSERT_EQ(Lib->RipChunk(chunk.data(), &bytes, &abort), CR_OK);
    if (bytes == 0) break;
    got.insert(got.end(), chunk.begin(), chunk.begin() + bytes);
  }
  EXPECT_TRUE(got == Disc.Tracks[2]);
  EXPECT_EQ(Lib->GetPercentCompleted(), 100);
  EXPECT_EQ(Lib->GetCurrentRipSector(), data);
  EXPECT_GT(Lib->GetPeakValue(), 1000);
  EXPECT_EQ(Lib->GetNumberOfJitterErrors(), 0);
  EXPECT_EQ(Lib->CloseRipper(), CR_OK);
  EXPECT_EQ(Lib->CloseRipper(), CR_ERR_RIPPER_CLOSED);
  EXPECT_EQ(Lib->RipChunk(chunk.data(), &bytes, &abort), CR_ERR_RIPPER_CLOSED);

  // An empty range opens and ends at once.
  ASSERT_EQ(Lib->OpenRipper(&size, track3, track3), CR_OK);
  EXPECT_EQ(Lib->RipChunk(chunk.data(), &bytes, &abort), CR_OK);
  EXPECT_EQ(bytes, 0);
}

TEST_F(CDRipApiTest, TheParameterRecordCarriesTheSettingsAndNamesTheDrive) {
  CR_CDROMPARAMS* p = Lib->GetStructPointer();
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(Lib->GetCDROMParameters(p), CR_OK);
  EXPECT_EQ(std::string(p->lpszDriveName), Disc.Cue.string());
  EXPECT_EQ(p->nCDROMType, CR_TYPE_IMAGE);
  Lib->SetParanoidMode(p, -1);
  Lib->SetMultiReadCount(p, 7);
  Lib->SetEnableMultiRead(p, -1);
  std::snprintf(p->lpszDriveName, sizeof p->lpszDriveName, "elsewhere");
  ASSERT_EQ(Lib->SetCDROMParameters(p), CR_OK);
  CR_CDROMPARAMS back{};
  ASSERT_EQ(Lib->GetCDROMParameters(&back), CR_OK);
  EXPECT_EQ(Lib->IsParanoidMode(&back), -1);
  EXPECT_EQ(Lib->GetMultiReadCount(&back), 7);
  EXPECT_EQ(std::string(back.lpszDriveName), Disc.Cue.string()) << "names are not settings";
  EXPECT_EQ(Lib->GetCDROMParameters(nullptr), CR_ERR_INVALID_PARAMETER);
  Lib->SetParanoidMode(p, 0);
  Lib->SetEnableMultiRead(p, 0);
  Lib->SetCDROMParameters(p);
}

TEST_F(CDRipApiTest, CDTextNeedsABufferOfItsSize) {
  int size = 0;
  ASSERT_EQ(Lib->ReadCDText(nullptr, 0, &size), CR_ERR_BUFFER_TOO_SMALL);
  ASSERT_GT(size, 0);
  std::vector<uint8_t> block(static_cast<std::size_t>(size));
  int small = 0;
  EXPECT_EQ(Lib->ReadCDText(block.data(), size - 1, &small), CR_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(small, size);
  ASSERT_EQ(Lib->ReadCDText(block.data(), size, &size), CR_OK);
  EXPECT_EQ(ParseCDTextBlock(block.data(), block.size()).Disc.Title, "Disc Title");
}

TEST_F(CDRipApiTest, WhatTheLibraryCannotDoItSays) {
  // An image has no tray: ejecting it must leave it readable.
  EXPECT_EQ(Lib->EjectCD(1), CR_ERR_NOT_SUPPORTED);
  EXPECT_EQ(Lib->EjectCD(0), CR_ERR_NOT_SUPPORTED);
  EXPECT_EQ(Lib->LockCD(1), CR_ERR_NOT_SUPPORTED);
  EXPECT_EQ(Lib->ReadToc(), CR_OK);
  EXPECT_EQ(Lib->GetNumTocEntries(), 4);
  char message[128];
  Lib->GetLastMessage(message, sizeof message);
  EXPECT_STREQ(message, "a disc image has no tray");
  EXPECT_EQ(Lib->PlayTrack(1), CR_ERR_NOT_SUPPORTED);
  EXPECT_EQ(Lib->IsAudioPlaying(), 0);
  EXPECT_EQ(Lib->LoadSettings(), CR_ERR_NOT_SUPPORTED);
  EXPECT_EQ(Lib->SaveSettings(), CR_ERR_NOT_SUPPORTED);
  int32_t errors = -1;
  int32_t sectors = -1;
  EXPECT_EQ(Lib->ScanForC2Errors(0, 10, &errors, &sectors), CR_ERR_NOT_SUPPORTED);
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(Lib->SelectCDROMType(CR_TYPE_DEVICE), CR_ERR_NOT_SUPPORTED);
  EXPECT_EQ(Lib->SelectCDROMType(CR_TYPE_IMAGE), CR_OK);

  int16_t samples[] = {1000, -1000, 30000, -30000};
  Lib->NormalizeChunk(samples, 4, 2.0);
  EXPECT_EQ(samples[0], 2000);
  EXPECT_EQ(samples[1], -2000);
  EXPECT_EQ(samples[2], 32767);
  EXPECT_EQ(samples[3], -32768);
}

TEST(CDTextValueTest, BecomesCleanUtf8OfBoundedLength) {
  EXPECT_EQ(cdrip::CleanTextValue("Plain"), "Plain");
  EXPECT_EQ(cdrip::CleanTextValue("Stra\xC3\x9F" "e"), "Stra\xC3\x9F" "e");
  // Not UTF-8: taken as ISO-8859-1.
  EXPECT_EQ(cdrip::CleanTextValue("Stra\xDF" "e"), "Stra\xC3\x9F" "e");
  EXPECT_EQ(cdrip::CleanTextValue("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80") << "a surrogate is no UTF-8";
  EXPECT_EQ(cdrip::CleanTextValue("  a\tb\nc\x7F  "), "a b c");
  EXPECT_EQ(cdrip::CleanTextValue("\t \r"), "");
  std::string longText;
  for (int i = 0; i < 1000; ++i) longText += "\xC3\xA9";
  const std::string cut = cdrip::CleanTextValue(longText);
  EXPECT_EQ(cut.size(), cdrip::kMaxTextValueBytes);
  EXPECT_EQ(cdrip::CleanTextValue(cut), cut) << "cut at a character boundary";
}

TEST(CDRipRangeTest, ARangeMayNotTouchADataTrack) {
  std::vector<CR_TOCENTRY> toc = {{0, 0, 1}, {100, CR_FLAG_DATA | CR_FLAG_COPY_PERMITTED, 2}, {200, 0, 3},
                                  {300, 0, CR_LEADOUT_TRACK}};
  EXPECT_EQ(cdrip::CheckRipRange(toc, 0, 100), CR_OK);
  EXPECT_EQ(cdrip::CheckRipRange(toc, 0, 101), CR_ERR_DATA_TRACK);
  EXPECT_EQ(cdrip::CheckRipRange(toc, 199, 250), CR_ERR_DATA_TRACK);
  EXPECT_EQ(cdrip::CheckRipRange(toc, 200, 400), CR_OK) << "past the lead-out is a read error, not a range error";
  EXPECT_EQ(cdrip::CheckRipRange(toc, 150, 150), CR_OK);
  EXPECT_EQ(cdrip::CheckRipRange(toc, -1, 10), CR_ERR_RANGE);
  EXPECT_EQ(cdrip::CheckRipRange({}, 0, 10), CR_ERR_NO_TOC);
  // A table that goes backwards gives the backward track no sectors.
  std::vector<CR_TOCENTRY> odd = {{0, 0, 1}, {500, CR_FLAG_DATA, 2}, {100, 0, 3}, {600, 0, CR_LEADOUT_TRACK}};
  EXPECT_EQ(cdrip::CheckRipRange(odd, 100, 400), CR_OK);
  EXPECT_EQ(cdrip::CheckRipRange(odd, 0, 100), CR_OK);
}

}  // namespace
