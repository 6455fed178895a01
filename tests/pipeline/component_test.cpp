#include <gtest/gtest.h>

#include "test_components.h"

using namespace testing_pipeline;

namespace {

TEST(Component, OwnerDestroysWhatItOwnsAndNamesStick) {
  auto* owner = new TComponent();
  auto* sink = new TMemorySink(owner);
  sink->SetName("WaveOut1");
  auto* source = new TRawFileIn(owner);
  EXPECT_EQ(sink->Owner(), owner);
  EXPECT_EQ(sink->Name(), "WaveOut1");
  sink->SetInput(source);
  // Last created goes first: the source is freed before the sink, and the
  // sink hears of it.
  delete owner;
  SUCCEED();
}

TEST(Component, DestroyingAnInputClearsEveryReferenceToIt) {
  TMemorySink sink;
  TPassThrough converter;
  auto* source = new TRawFileIn();
  converter.SetInput(source);
  sink.SetInput(source);
  delete source;
  EXPECT_EQ(converter.Input(), nullptr);
  EXPECT_EQ(sink.Input(), nullptr);

  auto* second = new TPassThrough();
  sink.SetInput(second);
  sink.SetInput(&converter);  // the old input's notification is withdrawn
  delete second;
  EXPECT_EQ(sink.Input(), &converter);
}

TEST(Component, ConverterIgnoresItselfAsInputAndMasksBit7) {
  TPassThrough converter;
  converter.SetInput(&converter);
  EXPECT_EQ(converter.Input(), nullptr);
  EXPECT_EQ(converter.BitsPerSample(), 0);
  EXPECT_EQ(converter.Channels(), 0);
  EXPECT_EQ(converter.SampleRate(), 0);

  TFixedFormatSource flagged(8 + 128, 2, 22050);
  converter.SetInput(&flagged);
  EXPECT_EQ(converter.BitsPerSample(), 8);
  EXPECT_EQ(converter.Channels(), 2);
  EXPECT_EQ(converter.SampleRate(), 22050);
  converter.SetFormatFlag(true);
  EXPECT_EQ(converter.BitsPerSample(), 136);
}

}  // namespace
