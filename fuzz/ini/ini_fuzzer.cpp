// Settings and language files are edited by hand and passed around: parse
// any bytes, then look keys up the way the program does.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  platform::TIniFile ini("");
  ini.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const char* section : {"Options", "Interface", "", "options"}) {
    (void)ini.SectionExists(section);
    for (const char* key : {"outputType", "wavSr", "MFile.Caption", "", "k"}) {
      (void)ini.ReadString(section, key, "default");
      (void)ini.ReadInteger(section, key, -7);
      (void)ini.ReadBool(section, key, true);
    }
  }
  return 0;
}
