// APEv2 tags: written by TagFileSimple and read by mutagen, written by
// mutagen and read by GetID3Tag; the audio must survive every change.
#include <cstring>

#include "ape_test_support.h"

namespace apetest {
namespace {

class Tags : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        pcm_ = musicLike(16, 2, 3000, 17);
        ASSERT_EQ(compressFile(path("a.ape"), pcm_, 2000), 0);
        audio_ = ReadFile(path("a.ape"));
    }
    std::string mutagenDump() {
        return RunShell("/usr/bin/python3 -c \"import mutagen.apev2, sys; t = mutagen.apev2.APEv2(sys.argv[1]); "
                        "[print(k + '=' + str(t[k])) for k in sorted(t.keys())]\" " +
                        Quote(path("a.ape")) + " 2>&1")
            .Out;
    }
    void expectAudioIntact() {
        std::vector<uint8_t> decoded;
        ASSERT_EQ(decompressFile(path("a.ape"), decoded), 0);
        EXPECT_TRUE(decoded == pcm_.bytes);
        auto now = ReadFile(path("a.ape"));
        ASSERT_GE(now.size(), audio_.size());
        EXPECT_TRUE(std::equal(audio_.begin(), audio_.end(), now.begin()));
    }
    Pcm pcm_;
    std::vector<uint8_t> audio_;
};

TEST_F(Tags, TagFileSimpleIsReadByMutagenAndFfmpeg) {
    QM_SKIP_UNLESS(qmtest::HavePythonModule("mutagen.apev2"), "mutagen for /usr/bin/python3");
    ASSERT_EQ(TagFileSimple(path("a.ape").c_str(), "Ärtist ✓", "Albüm", "Tïtle", "Cömment", "Rock", "1999", "7/12", 1, 0),
              0);
    EXPECT_EQ(mutagenDump(),
              "Album=Albüm\nArtist=Ärtist ✓\nComment=Cömment\nGenre=Rock\nTitle=Tïtle\nTrack=7/12\nYear=1999\n");
    expectAudioIntact();
    if (HaveTool("ffmpeg")) {
        std::vector<uint8_t> decoded;
        std::string errors;
        ASSERT_TRUE(ffmpegDecode(path("a.ape"), 16, decoded, errors)) << errors;
        EXPECT_TRUE(decoded == pcm_.bytes);
    }

    // Writing again replaces the tag instead of stacking a second one.
    ASSERT_EQ(TagFileSimple(path("a.ape").c_str(), "B", "", "", "", "", "", "", 1, 0), 0);
    EXPECT_EQ(mutagenDump(), "Album=\nArtist=B\nComment=\nGenre=\nTitle=\nTrack=\nYear=\n");
    expectAudioIntact();
}

TEST_F(Tags, ClearFirstDecidesWhetherOtherItemsSurvive) {
    QM_SKIP_UNLESS(qmtest::HavePythonModule("mutagen.apev2"), "mutagen for /usr/bin/python3");
    ASSERT_EQ(RunShell("/usr/bin/python3 -c \"import mutagen.apev2, sys; t = mutagen.apev2.APEv2(); t['Composer'] = 'C'; "
                  "t['Title'] = 'Old'; t.save(sys.argv[1])\" " + Quote(path("a.ape"))).Status, 0);
    ASSERT_EQ(TagFileSimple(path("a.ape").c_str(), "A", "B", "New", "", "", "", "", 0, 0), 0);
    std::string kept = mutagenDump();
    EXPECT_NE(kept.find("Composer=C\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("Title=New\n"), std::string::npos) << kept;
    EXPECT_EQ(kept.find("Old"), std::string::npos) << kept;
    ASSERT_EQ(TagFileSimple(path("a.ape").c_str(), "A", "B", "New", "", "", "", "", 1, 0), 0);
    EXPECT_EQ(mutagenDump().find("Composer"), std::string::npos);
    expectAudioIntact();
}

TEST_F(Tags, GetID3TagReadsWhatMutagenWrote) {
    QM_SKIP_UNLESS(qmtest::HavePythonModule("mutagen.apev2"), "mutagen for /usr/bin/python3");
    ASSERT_EQ(RunShell("/usr/bin/python3 -c \"import mutagen.apev2, sys; t = mutagen.apev2.APEv2(); "
                  "t['TITLE'] = 'Café del Mar ✓ a title longer than thirty bytes'; t['Artist'] = 'Ümlaut'; "
                  "t['Album'] = 'Album'; t['Year'] = '2004'; t['Comment'] = 'Hi'; t['Track'] = '5/9'; t['Genre'] = 'Jazz'; "
                  "t.save(sys.argv[1])\" " + Quote(path("a.ape"))).Status, 0);
    APE_ID3_TAG tag;
    ASSERT_EQ(GetID3Tag(path("a.ape").c_str(), &tag), 0);
    EXPECT_EQ(std::string(tag.Header, 3), "TAG");
    // Windows-1252 text: "é" is 0xE9, the check mark has no place there.
    EXPECT_EQ(std::string(tag.Title, 30), "Caf\xe9 del Mar ? a title longer ");
    EXPECT_STREQ(std::string(tag.Artist, 30).c_str(), "\xdcmlaut");
    EXPECT_STREQ(std::string(tag.Album, 30).c_str(), "Album");
    EXPECT_EQ(std::string(tag.Year, 4), "2004");
    EXPECT_STREQ(std::string(tag.Comment, 28).c_str(), "Hi");
    EXPECT_EQ(tag.Track, 5);
    EXPECT_EQ(tag.Genre, 8);
    expectAudioIntact();
}

TEST_F(Tags, Id3v1AloneIsReturnedAsItIsAndNoTagIsAnError) {
    APE_ID3_TAG tag;
    EXPECT_EQ(GetID3Tag(path("a.ape").c_str(), &tag), APE_ERROR_NO_TAG);
    std::vector<uint8_t> id3v1(128, 0);
    std::memcpy(id3v1.data(), "TAGTitle", 8);
    std::memcpy(id3v1.data() + 33, "Artist", 6);
    id3v1[127] = 17;
    std::vector<uint8_t> f = audio_;
    f.insert(f.end(), id3v1.begin(), id3v1.end());
    WriteFile(path("a.ape"), f);
    ASSERT_EQ(GetID3Tag(path("a.ape").c_str(), &tag), 0);
    EXPECT_EQ(std::memcmp(&tag, id3v1.data(), 128), 0);
    EXPECT_EQ(GetID3Tag(path("missing.ape").c_str(), &tag), APE_ERROR_INVALID_INPUT_FILE);
}

TEST_F(Tags, RemoveTagRestoresTheBareFile) {
    ASSERT_EQ(TagFileSimple(path("a.ape").c_str(), "A", "B", "C", "D", "E", "F", "1", 1, 0), 0);
    std::vector<uint8_t> f = ReadFile(path("a.ape"));
    f.resize(f.size() + 128, 0);
    std::memcpy(f.data() + f.size() - 128, "TAG", 3);
    WriteFile(path("a.ape"), f);
    ASSERT_EQ(RemoveTag(path("a.ape").c_str()), 0);
    EXPECT_TRUE(ReadFile(path("a.ape")) == audio_);
    ASSERT_EQ(RemoveTag(path("a.ape").c_str()), 0);
    EXPECT_TRUE(ReadFile(path("a.ape")) == audio_);
}

TEST_F(Tags, DamagedTagIsIgnoredNotTrusted) {
    // A footer claiming more bytes than the file holds, and absurd item counts.
    std::vector<uint8_t> f = audio_;
    uint8_t footer[32] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07, 0, 0, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF};
    f.insert(f.end(), footer, footer + 32);
    WriteFile(path("a.ape"), f);
    APE_ID3_TAG tag;
    EXPECT_EQ(GetID3Tag(path("a.ape").c_str(), &tag), APE_ERROR_NO_TAG);
    std::vector<uint8_t> decoded;
    ASSERT_EQ(decompressFile(path("a.ape"), decoded), 0);
    EXPECT_TRUE(decoded == pcm_.bytes);
}

}  // namespace
}  // namespace apetest
