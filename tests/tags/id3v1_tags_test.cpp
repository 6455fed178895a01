#include "tags/id3v1_tags.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tag_test_support.h"

using namespace tagtest;

namespace {

using Block = std::array<unsigned char, kId3v1BlockSize>;

Block MakeRawBlock(unsigned char mark, unsigned char track) {
  Block block{};
  std::memcpy(block.data(), "TAG", 3);
  std::memcpy(block.data() + 3, "  Title\t", 8);
  std::memcpy(block.data() + 33, "Artist", 6);
  std::memcpy(block.data() + 63, "Album\0junk", 10);
  std::memcpy(block.data() + 93, "1987", 4);
  std::memset(block.data() + 97, 'c', 30);
  block[125] = mark;
  block[126] = track;
  block[127] = 17;
  return block;
}

std::string AsString(const Block& block) { return std::string(reinterpret_cast<const char*>(block.data()), block.size()); }

}  // namespace

TEST(TId3v1Tags, GenreTableHasTheListedNamesAndIds) {
  ASSERT_EQ(kId3v1Genres.size(), 148u);
  EXPECT_STREQ(kId3v1Genres[0], "Blues");
  EXPECT_STREQ(kId3v1Genres[12], "Other");
  EXPECT_STREQ(kId3v1Genres[40], "Alt. Rock");
  EXPECT_STREQ(kId3v1Genres[78], "Rock & Roll");
  EXPECT_STREQ(kId3v1Genres[127], "Drum & Bass");
  EXPECT_STREQ(kId3v1Genres[136], "Christian Gangsta Rap");
  EXPECT_STREQ(kId3v1Genres[147], "Synthpop");
  // Every name is found again under its own id.
  TId3v1Tags tags;
  for (int id = kId3v1GenreCount - 1; id >= 0; --id) {
    tags.SetGenre(kId3v1Genres[static_cast<std::size_t>(id)]);
    EXPECT_EQ(tags.GenreId(), id) << kId3v1Genres[static_cast<std::size_t>(id)];
  }
}

TEST(TId3v1Tags, GenreNameLookupTrimsAndIgnoresCase) {
  TId3v1Tags tags;
  EXPECT_EQ(tags.Genre(), "Other");
  tags.SetGenre(" synthpop");
  EXPECT_EQ(tags.GenreId(), 147);
  EXPECT_EQ(tags.Genre(), "Synthpop");
  tags.SetGenre("\tHIP-HOP\r\n");
  EXPECT_EQ(tags.GenreId(), 7);
  tags.SetGenre("Polka Metal");
  EXPECT_EQ(tags.GenreId(), 7);
  tags.SetGenreId(3);
  EXPECT_EQ(tags.Genre(), "Dance");
}

TEST(TId3v1Tags, GenreOutsideTheTableOrClearedReadsAsOther) {
  TId3v1Tags tags;
  tags.SetValue("genre", 200);
  EXPECT_EQ(tags.GenreId(), 12);
  tags.SetValue("genre", u"17");
  EXPECT_EQ(tags.GenreId(), 17);
  tags.Clear();
  EXPECT_EQ(tags.GenreId(), 12);
  EXPECT_EQ(tags.MakeBlock()[127], 12);
}

TEST(TId3v1Tags, TrackFormDependsOnBytes125And126) {
  struct Case {
    unsigned char mark, track;
    int expectTrack;
    std::size_t commentLength;
  };
  for (const Case c : {Case{0, 5, 5, 28}, Case{0, 0, 0, 30}, Case{0x20, 0x20, 0, 30}, Case{0x20, 9, 9, 28},
                       Case{'c', 'c', 0, 30}}) {
    TId3v1Tags tags;
    Block block = MakeRawBlock(c.mark, c.track);
    if (c.mark == 0 && c.track == 0) std::memset(block.data() + 97, 'c', 28);
    tags.ParseBlock(block);
    EXPECT_EQ(tags.Track(), c.expectTrack) << int(c.mark) << "/" << int(c.track);
    const std::string comment = tags.Comment();
    if (c.mark == 0 && c.track == 0) {
      EXPECT_EQ(comment, std::string(28, 'c'));  // the zeros end the 30-byte field
    } else if (c.commentLength == 30 && c.mark == 0x20) {
      EXPECT_EQ(comment, std::string(28, 'c'));  // the trailing blanks are trimmed
    } else {
      EXPECT_EQ(comment, std::string(c.commentLength, 'c'));
    }
  }
}

TEST(TId3v1Tags, ReadTrimsFieldsParsesYearAndLeavesPositionAtTheEnd) {
  TTempDir dir;
  const auto path = dir / "a.mp3";
  WriteText(path, std::string(300, 'a') + AsString(MakeRawBlock(0, 3)));
  Fd fd = OpenReadWrite(path);
  ASSERT_EQ(::lseek(fd.Get(), 17, SEEK_SET), 17);
  TId3v1Tags tags;
  EXPECT_TRUE(tags.HasTag(fd.Get()));
  EXPECT_EQ(::lseek(fd.Get(), 0, SEEK_CUR), 17);
  ASSERT_TRUE(tags.ReadFromFile(fd.Get()));
  EXPECT_EQ(::lseek(fd.Get(), 0, SEEK_CUR), 428);
  EXPECT_EQ(tags.Title(), "Title");
  EXPECT_EQ(tags.Artist(), "Artist");
  EXPECT_EQ(tags.Album(), "Album");
  EXPECT_EQ(tags.Year(), 1987);
  EXPECT_EQ(tags.Track(), 3);
  EXPECT_EQ(tags.GenreId(), 17);
  EXPECT_FALSE(tags.Empty());

  // A year that is not all digits reads as 0; an all-blank block still counts.
  Block odd{};
  std::memcpy(odd.data(), "TAG", 3);
  std::memcpy(odd.data() + 93, "19x9", 4);
  tags.ParseBlock(odd);
  EXPECT_EQ(tags.Year(), 0);
  EXPECT_EQ(tags.Title(), "");
  EXPECT_FALSE(tags.GetValue("title").IsNull());
  EXPECT_FALSE(tags.Empty());
}

TEST(TId3v1Tags, MissingOrShortBlockIsNotATag) {
  TTempDir dir;
  TId3v1Tags tags;
  tags.SetTitle("before");
  const auto shortFile = dir / "short";
  WriteText(shortFile, "TAG" + std::string(100, 'x'));
  Fd shortFd = OpenReadWrite(shortFile);
  EXPECT_FALSE(tags.HasTag(shortFd.Get()));
  EXPECT_FALSE(tags.ReadFromFile(shortFd.Get()));
  EXPECT_TRUE(tags.Empty());  // the read cleared the container before failing

  Block lower = MakeRawBlock(0, 1);
  std::memcpy(lower.data(), "tag", 3);
  const auto lowerFile = dir / "lower";
  WriteText(lowerFile, AsString(lower));
  Fd lowerFd = OpenReadWrite(lowerFile);
  EXPECT_FALSE(tags.HasTag(lowerFd.Get()));
  EXPECT_FALSE(tags.HasTag(kInvalidFileHandle));

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  Fd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  EXPECT_FALSE(tags.HasTag(readEnd.Get()));
  EXPECT_FALSE(tags.WriteToFile(readEnd.Get(), false));
}

TEST(TId3v1Tags, WriteBuildsTheBlockAndAppendsIt) {
  TId3v1Tags tags;
  tags.SetTitle("0123456789012345678901234567890123456789");
  tags.SetArtist("Art\xE9");
  tags.SetComment(std::string(30, 'k'));
  Block block = tags.MakeBlock();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()) + 3, 30), "012345678901234567890123456789");
  EXPECT_EQ(block[93], '0');  // a year of 0 is the single digit 0
  EXPECT_EQ(block[94], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()) + 97, 30), std::string(30, 'k'));
  EXPECT_EQ(block[127], 12);

  tags.SetTrack(9);
  tags.SetYear(2024);
  block = tags.MakeBlock();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()) + 97, 30), std::string(28, 'k') + '\0' + '\x09');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()) + 93, 4), "2024");

  TTempDir dir;
  const auto path = dir / "w.bin";
  WriteText(path, "audio");
  {
    Fd fd = OpenReadWrite(path);
    ASSERT_TRUE(tags.WriteToFile(fd.Get(), true));
    ASSERT_TRUE(tags.WriteToFile(fd.Get(), false));  // a second write adds a second block
  }
  const std::string bytes = ReadText(path);
  ASSERT_EQ(bytes.size(), 5 + 2 * kId3v1BlockSize);
  EXPECT_EQ(bytes.substr(5, kId3v1BlockSize), AsString(block));
  EXPECT_EQ(bytes.substr(5 + kId3v1BlockSize), AsString(block));

  Fd readOnly = OpenReadOnly(path);
  EXPECT_FALSE(tags.WriteToFile(readOnly.Get(), false));
  EXPECT_EQ(ReadText(path), bytes);
}

TEST(TId3v1Tags, ReadsBlocksMadeByMutagen) {
  QM_REQUIRE_TOOLS("ffmpeg");
  QM_SKIP_UNLESS(qmtest::HavePythonModule("mutagen"), "mutagen for /usr/bin/python3");
  TTempDir dir;
  const auto path = dir / "m.mp3";
  MakeMp3(path);
  RunPython(dir, R"(
from mutagen.id3 import TIT2, TPE1, TALB, TDRC, COMM, TRCK, TCON
from mutagen.id3._id3v1 import MakeID3v1
block = MakeID3v1({'TIT2': TIT2(text=['Caf\u00e9 au lait']), 'TPE1': TPE1(text=['The Artist']),
                   'TALB': TALB(text=['An Album']), 'TDRC': TDRC(text=['1999']),
                   'COMM': COMM(text=['A comment']), 'TRCK': TRCK(text=['7']), 'TCON': TCON(text=['Synthpop'])})
with open(')" + path.string() + R"(', 'ab') as f:
    f.write(block)
)");
  Fd fd = OpenReadWrite(path);
  TId3v1Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(fd.Get()));
  EXPECT_EQ(tags.Title(), "Caf\xE9 au lait");
  EXPECT_EQ(tags.Artist(), "The Artist");
  EXPECT_EQ(tags.Album(), "An Album");
  EXPECT_EQ(tags.Year(), 1999);
  EXPECT_EQ(tags.Comment(), "A comment");
  EXPECT_EQ(tags.Track(), 7);
  EXPECT_EQ(tags.Genre(), "Synthpop");
}

TEST(TId3v1Tags, BlocksWeWriteAreReadByMutagen) {
  QM_REQUIRE_TOOLS("ffmpeg");
  QM_SKIP_UNLESS(qmtest::HavePythonModule("mutagen"), "mutagen for /usr/bin/python3");
  TTempDir dir;
  const auto path = dir / "o.mp3";
  MakeMp3(path);
  const std::string audio = ReadText(path);
  TId3v1Tags tags;
  tags.SetTitle("Na\xEFve title that is longer than thirty bytes");
  tags.SetArtist("Art");
  tags.SetAlbum("Alb");
  tags.SetYear(2003);
  tags.SetComment("Comment");
  tags.SetTrack(12);
  tags.SetGenre("trance");
  {
    Fd fd = OpenReadWrite(path);
    ASSERT_TRUE(tags.WriteToFile(fd.Get(), false));
  }
  const std::string out = RunPython(dir, R"(
from mutagen.id3 import ID3
t = ID3(')" + path.string() + R"(')
assert t.version == (1, 1), t.version
expect = {'TIT2': 'Na\u00efve title that is longer tha', 'TPE1': 'Art', 'TALB': 'Alb', 'TDRC': '2003',
          'TRCK': '12', 'TCON': 'Trance'}
for key, value in expect.items():
    assert str(t[key]) == value, (key, str(t[key]))
assert t.getall('COMM')[0].text[0] == 'Comment'
print('ok')
)");
  EXPECT_EQ(out, "ok\n");
  EXPECT_EQ(ReadText(path).substr(0, audio.size()), audio);
}
