#include "pipeline/au_file_stream.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "pipeline/au_exception.h"
#include "pipeline/au_memory_stream.h"
#include "test_components.h"

using namespace testing_pipeline;

namespace {

TEST(FileStream, CreateTruncatesAndOpenModesGiveTheirAccess) {
  TTempDir dir;
  const auto file = dir / "a.bin";
  {
    TAuFileStream s(file, TAuFileStream::fmCreate);
    s.WriteBuffer("0123456789", 10);
    EXPECT_EQ(s.Size(), 10);
    EXPECT_EQ(s.Seek(-4, TSeekOrigin::soEnd), 6);
    char c[4];
    s.ReadBuffer(c, 4);
    EXPECT_EQ(std::memcmp(c, "6789", 4), 0);
    s.SetSize(5);
    EXPECT_EQ(s.Size(), 5);
  }
  {
    // Read-only, others may read: writing fails and says so.
    TAuFileStream s(file, TAuFileStream::fmShareDenyWrite);
    EXPECT_EQ(s.Write("x", 1), 0u);
    EXPECT_THROW(s.WriteBuffer("x", 1), EAuException);
    char c[8];
    EXPECT_EQ(s.Read(c, 8), 5u);
    EXPECT_THROW(s.ReadBuffer(c, 1), EAuException) << "reading past the end is a short read";
  }
  {
    TAuFileStream s(file, TAuFileStream::fmOpenReadWrite | TAuFileStream::fmShareDenyNone);
    s.Seek(0, TSeekOrigin::soEnd);
    s.WriteBuffer("AB", 2);
  }
  TAuFileStream again(file, TAuFileStream::fmCreate);
  EXPECT_EQ(again.Size(), 0) << "create truncates an existing file";
}

// Past the write-out mark the system is asked to start writing the file out:
// that changes nothing of what is written, patched afterwards or read back,
// and a stream with no file behind it takes no failure from it.
TEST(FileStream, WritingPastTheWriteOutMarkKeepsEveryByte) {
  TTempDir dir;
  const auto file = dir / "big.bin";
  const std::size_t total = 2 * TAuFileStream::WriteOutBytes + 1001;
  std::vector<uint8_t> expected(total);
  for (std::size_t i = 0; i < total; ++i) expected[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  {
    TAuFileStream s(file, TAuFileStream::fmCreate);
    for (std::size_t at = 0; at < total; at += 65521) {
      s.WriteBuffer(expected.data() + at, std::min<std::size_t>(65521, total - at));
    }
    // A header patched once the data is written.
    s.Seek(0, TSeekOrigin::soBeginning);
    s.WriteBuffer("RIFF", 4);
    std::memcpy(expected.data(), "RIFF", 4);
    s.Close();
  }
  TAuFileStream back(file, TAuFileStream::fmOpenRead);
  std::vector<uint8_t> got(total + 1);
  EXPECT_EQ(back.Read(got.data(), got.size()), total);
  got.resize(total);
  EXPECT_TRUE(got == expected);

  TAuFileStream null("/dev/null", TAuFileStream::fmOpenWrite);
  EXPECT_NO_THROW(null.WriteBuffer(expected.data(), total));
}

TEST(FileStream, FailedOpenRaisesTheSystemText) {
  TTempDir dir;
  try {
    TAuFileStream s(dir / "missing.wav", TAuFileStream::fmShareDenyWrite);
    FAIL() << "opened a missing file";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), std::strerror(ENOENT));
  }
  EXPECT_THROW(TAuFileStream(dir.Path(), TAuFileStream::fmOpenRead), EAuException) << "a folder is no file";
  EXPECT_THROW(TAuFileStream(dir / "no" / "such" / "dir.wav", TAuFileStream::fmCreate), EAuException);
}

TEST(FileStream, WriteToAFullDeviceRaisesItsText) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TAuFileStream s("/dev/full", TAuFileStream::fmOpenWrite);
  try {
    s.WriteBuffer("abc", 3);
    FAIL() << "a write to a full device succeeded";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), std::strerror(ENOSPC));
  }
}

// Closing is where NFS and quotas report write-back errors: Close raises the
// system's text, and a descriptor is never closed twice.
TEST(FileStream, CloseRaisesTheSystemTextAndClosesOnce) {
  TTempDir dir;
  const auto file = dir / "a.bin";
  {
    TAuFileStream s(file, TAuFileStream::fmCreate);
    s.WriteBuffer("abc", 3);
    s.Close();
    EXPECT_EQ(s.Handle(), -1);
    EXPECT_NO_THROW(s.Close());
    EXPECT_THROW(s.WriteBuffer("x", 1), EAuException) << "a closed stream writes nothing";
  }
  EXPECT_EQ(std::filesystem::file_size(file), 3u);
  {
    // The descriptor taken from under the stream: close(2) itself fails.
    TAuFileStream s(file, TAuFileStream::fmOpenRead);
    ASSERT_EQ(::close(s.Handle()), 0);
    try {
      s.Close();
      FAIL() << "a failed close passed";
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), std::strerror(EBADF));
    }
    EXPECT_EQ(s.Handle(), -1);
  }
  {
    // Once closed, destroying the stream leaves alone the next file that
    // got the same descriptor number.
    auto s = std::make_unique<TAuFileStream>(file, TAuFileStream::fmOpenRead);
    const int handle = s->Handle();
    s->Close();
    TAuFileStream next(file, TAuFileStream::fmOpenRead);
    ASSERT_EQ(next.Handle(), handle);
    s.reset();
    char c;
    EXPECT_EQ(next.Read(&c, 1), 1u);
    EXPECT_EQ(next.LastError(), "");
  }
}

// A read that fails is no end of data: ReadUpTo raises the system's text,
// and the error of one call does not stick to the next.
TEST(FileStream, FailedReadRaisesAndLastErrorIsPerCall) {
  TTempDir dir;
  const auto file = dir / "w.bin";
  TAuFileStream s(file, TAuFileStream::fmCreate);
  s.WriteBuffer("0123", 4);
  TAuFileStream writeOnly(file, TAuFileStream::fmOpenWrite);
  char c[4];
  EXPECT_EQ(writeOnly.Read(c, 4), 0u);
  EXPECT_EQ(writeOnly.LastError(), std::strerror(EBADF));
  EXPECT_EQ(writeOnly.Write("ab", 2), 2u);
  EXPECT_EQ(writeOnly.LastError(), "");
  try {
    writeOnly.ReadUpTo(c, 4);
    FAIL() << "a failed read passed for the end of the data";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), std::strerror(EBADF));
  }
  // The end of the data is a short count, not an error.
  s.SetPosition(2);
  EXPECT_EQ(s.ReadUpTo(c, 4), 2u);
  EXPECT_EQ(s.ReadUpTo(c, 4), 0u);
}

TEST(MemoryStream, ReadsWritesAndSeeksWithinBounds) {
  TAuMemoryStream m;
  m.WriteBuffer("hello", 5);
  EXPECT_EQ(m.Size(), 5);
  EXPECT_EQ(m.Seek(-10, TSeekOrigin::soCurrent), -1);
  m.SetPosition(3);
  char c[4] = {};
  EXPECT_EQ(m.Read(c, 4), 2u);
  EXPECT_EQ(std::string(c, 2), "lo");
  EXPECT_EQ(m.Read(c, 4), 0u);
  m.SetSize(2);
  EXPECT_EQ(m.Position(), 2);
}

}  // namespace
