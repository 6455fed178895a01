// The apecodec tool, and the library as the program loads it (dlopen by
// file name, exports bound by name).
#include <dlfcn.h>

#include "ape_test_support.h"

namespace apetest {
namespace {

std::string tool() { return Quote(binDir() / "apecodec"); }

TEST_F(TempDirTest, ToolRoundTripAndInfo) {
    Pcm pcm = musicLike(24, 2, 12345, 4);
    writeWav(path("in.wav"), pcm);
    ASSERT_EQ(RunShell(tool() + " encode -c 4000 " + Quote(path("in.wav")) + " " + Quote(path("a.ape"))).Status, 0);
    ASSERT_EQ(RunShell(tool() + " decode " + Quote(path("a.ape")) + " " + Quote(path("out.wav"))).Status, 0);
    EXPECT_TRUE(WavPayload(path("out.wav")) == pcm.bytes);
    EXPECT_TRUE(ReadFile(path("out.wav")) == ReadFile(path("in.wav")));
    ASSERT_EQ(RunShell(tool() + " info " + Quote(path("a.ape")) + " > " + Quote(path("info.txt"))).Status, 0);
    auto info = ReadFile(path("info.txt"));
    std::string text(info.begin(), info.end());
    EXPECT_NE(text.find("version: 3990\n"), std::string::npos) << text;
    EXPECT_NE(text.find("level: 4000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("sample rate: 44100\n"), std::string::npos) << text;
    EXPECT_NE(text.find("channels: 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("bits: 24\n"), std::string::npos) << text;
    EXPECT_NE(text.find("frames: 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("length ms: 279\n"), std::string::npos) << text;
}

TEST_F(TempDirTest, ToolFailsWithNonZeroStatus) {
    WriteFile(path("junk.ape"), {1, 2, 3});
    EXPECT_NE(RunShell(tool() + " decode " + Quote(path("junk.ape")) + " " + Quote(path("o.wav")) + " 2>/dev/null").Status, 0);
    EXPECT_FALSE(fs::exists(path("o.wav")));
    EXPECT_NE(RunShell(tool() + " info " + Quote(path("junk.ape")) + " 2>/dev/null").Status, 0);
    EXPECT_NE(RunShell(tool() + " encode " + Quote(path("junk.ape")) + " " + Quote(path("o.ape")) + " 2>/dev/null").Status, 0);
    writeWav(path("in.wav"), musicLike(16, 2, 10));
    EXPECT_NE(RunShell(tool() + " encode -c 2500 " + Quote(path("in.wav")) + " " + Quote(path("o.ape")) + " 2>/dev/null").Status, 0);
    EXPECT_NE(RunShell(tool() + " 2>/dev/null").Status, 0);
}

TEST(ApeLibrary, LoadsByFileNameWithEveryExport) {
    void* lib = dlopen((binDir() / "libapecodec.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char* name :
         {"c_APECompress_Create", "c_APECompress_Start", "c_APECompress_LockBuffer", "c_APECompress_UnlockBuffer",
          "c_APECompress_GetBufferBytesAvailable", "c_APECompress_Finish", "c_APECompress_Kill",
          "c_APECompress_Destroy", "c_APECompress_AddData", "c_APEDecompress_CreateW", "c_APEDecompress_GetData",
          "c_APEDecompress_GetInfo", "c_APEDecompress_Seek", "c_APEDecompress_Destroy", "FillWaveFormatEx",
          "GetID3Tag", "TagFileSimple", "RemoveTag", "GetVersionNumber"})
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    // The library's own C++ stays private.
    EXPECT_EQ(dlsym(lib, "_ZN3ape10Compressor6finishEPKhi"), nullptr);
    dlclose(lib);
}

}  // namespace
}  // namespace apetest
