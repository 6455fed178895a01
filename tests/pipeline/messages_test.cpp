// The message formatter and the decode buffer that sources serve from.
#include <gtest/gtest.h>

#include <string>

#include "pipeline/decode_buffer.h"
#include "platform/messages.h"

TEST(FormatMessage, FillsTextAndNumberFieldsInOrder) {
  EXPECT_EQ(FormatMessage(kFmtCannotAssign, {"TId3v1Tags", "nil"}), "Cannot assign a TId3v1Tags to a nil");
  EXPECT_EQ(FormatMessage(kFmtNoOutputType, {7}), "Output type 7 is not supported");
  EXPECT_EQ(FormatMessage(kFmtNoOutputType, {-12}), "Output type -12 is not supported");
  EXPECT_EQ(FormatMessage(kFmtCDReadError, {3, 1, 2, 74}), "Read error in track 3 at 01:02:74");
  EXPECT_EQ(FormatMessage(kFmtMacUndefinedError, {7777}), "undefined (7777)");
  const std::string path = "/tmp/x y.ini";
  EXPECT_EQ(FormatMessage(kMsgIniWriteError, {path}), "Unable to write to /tmp/x y.ini");
}

TEST(FormatMessage, OddPatternsAndValuesStaySafe) {
  // A value with its own percent signs is copied, never read as a pattern.
  EXPECT_EQ(FormatMessage(kFmtNotValidInteger, {"%s%d%n"}), "'%s%d%n' is not a valid integer value");
  // Missing values leave their field out; surplus values are ignored.
  EXPECT_EQ(FormatMessage("a %s b %d c", {}), "a  b  c");
  EXPECT_EQ(FormatMessage("%d", {1, 2}), "1");
  // %% and what is no field stay as written.
  EXPECT_EQ(FormatMessage("100%% %q %", {}), "100% %q %");
  EXPECT_EQ(FormatMessage("%05d|%3s", {-42, "a"}), "-0042|  a");
}

TEST(TDecodeBuffer, ServesWholeFramesFromTheStartAndThenNothing) {
  TDecodeBuffer buffer(16);
  EXPECT_TRUE(buffer.Empty());
  for (int i = 0; i < 16; ++i) buffer.Data()[i] = static_cast<uint8_t>(i);
  buffer.Filled(12);
  void* at = nullptr;
  uint32_t bytes = 7;  // one frame of 4 and a part of the next
  buffer.Serve(at, bytes, 4);
  ASSERT_EQ(bytes, 4u);
  EXPECT_EQ(static_cast<uint8_t*>(at)[0], 0);
  bytes = 100;
  buffer.Serve(at, bytes, 4);
  ASSERT_EQ(bytes, 8u);
  EXPECT_EQ(static_cast<uint8_t*>(at)[0], 4);
  EXPECT_TRUE(buffer.Empty());
  bytes = 100;
  buffer.Serve(at, bytes, 4);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(at, nullptr);
}

TEST(TDecodeBuffer, ClampsAFillToItsCapacityAndServesNothingWithoutAFrame) {
  TDecodeBuffer buffer(8);
  buffer.Filled(1000);
  EXPECT_EQ(buffer.Available(), 8u);
  void* at = nullptr;
  uint32_t bytes = 100;
  buffer.Serve(at, bytes, 0);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(at, nullptr);
  // A request smaller than a frame gets what it asks for.
  bytes = 2;
  buffer.Serve(at, bytes, 4);
  EXPECT_EQ(bytes, 2u);
  buffer.Clear();
  EXPECT_TRUE(buffer.Empty());
  buffer.Release();
  EXPECT_EQ(buffer.Capacity(), 0u);
}
