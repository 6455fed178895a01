#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <thread>

#include "platform/auto_reset_event.h"
#include "platform/dynamic_library.h"
#include "platform/thread_priority.h"

using namespace std::chrono_literals;

namespace {

TEST(AutoResetEvent, KeepsASignalForOneWaiterOnly) {
  platform::AutoResetEvent ev;
  EXPECT_FALSE(ev.WaitFor(1ms));
  ev.Signal();
  ev.Signal();
  EXPECT_TRUE(ev.WaitFor(1ms));
  EXPECT_FALSE(ev.WaitFor(1ms)) << "two signals before a wait are one";
  ev.Signal();
  ev.Reset();
  EXPECT_FALSE(ev.WaitFor(1ms));
  std::thread t([&] { ev.Signal(); });
  ev.Wait();
  t.join();
}

TEST(ThreadPriority, LevelsMapToNiceValues) {
  EXPECT_EQ(platform::NiceValueForLevel(0), 19);
  EXPECT_EQ(platform::NiceValueForLevel(3), 0);
  EXPECT_EQ(platform::NiceValueForLevel(6), -15);
  EXPECT_EQ(platform::NiceValueForLevel(9), -15);
  EXPECT_EQ(platform::NiceValueForLevel(-2), 19);
}

using CosFn = double (*)(double);

TEST(DynamicLibrary, BindsExportsByNameAndRetriesAfterAFailedLoad) {
  platform::DynamicLibrary libm("libm.so.6");
  CosFn cosine = nullptr;
  EXPECT_TRUE(libm.Load([&](platform::DynamicLibrary& lib) { return lib.Bind(cosine, "cos"); }));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_TRUE(libm.Loaded());

  platform::DynamicLibrary missing("libquellmark-no-such-codec.so");
  EXPECT_FALSE(missing.Load(nullptr));
  EXPECT_FALSE(missing.Loaded());
  EXPECT_EQ(missing.LoadFailedMessage(), "libquellmark-no-such-codec.so library could not be loaded.");

  // A library without the export is not kept; the next attempt binds anew.
  platform::DynamicLibrary partial("libm.so.6");
  int attempts = 0;
  auto bindMissing = [&](platform::DynamicLibrary& lib) {
    ++attempts;
    CosFn fn;
    return lib.Bind(fn, "no_such_export");
  };
  EXPECT_FALSE(partial.Load(bindMissing));
  EXPECT_FALSE(partial.Load(bindMissing));
  EXPECT_EQ(attempts, 2);
  EXPECT_FALSE(partial.Loaded());
}

TEST(DynamicLibrary, TheOverrideVariableRedirectsOrHidesALibraryAtEachAttempt) {
  // Redirected: a name no file has loads another library in its place.
  ASSERT_EQ(::setenv(platform::kLibraryOverrideVariable, "libother.so=;libquellmark-stand-in.so=libm.so.6", 1), 0);
  platform::DynamicLibrary standIn("libquellmark-stand-in.so");
  CosFn cosine = nullptr;
  EXPECT_TRUE(standIn.Load([&](platform::DynamicLibrary& lib) { return lib.Bind(cosine, "cos"); }));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);

  // Hidden: an empty path makes a library that exists unfindable, until
  // the variable no longer says so.
  ASSERT_EQ(::setenv(platform::kLibraryOverrideVariable, "libm.so.6=", 1), 0);
  platform::DynamicLibrary hidden("libm.so.6");
  EXPECT_FALSE(hidden.Load(nullptr));
  EXPECT_FALSE(hidden.Load(nullptr));
  EXPECT_NE(hidden.LastError().find(platform::kLibraryOverrideVariable), std::string::npos) << hidden.LastError();
  ::unsetenv(platform::kLibraryOverrideVariable);
  EXPECT_TRUE(hidden.Load(nullptr));
  // Once loaded it stays loaded.
  ASSERT_EQ(::setenv(platform::kLibraryOverrideVariable, "libm.so.6=", 1), 0);
  EXPECT_TRUE(hidden.Load(nullptr));
  ::unsetenv(platform::kLibraryOverrideVariable);
}

}  // namespace
