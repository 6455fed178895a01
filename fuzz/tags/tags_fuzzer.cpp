// Feeds arbitrary bytes as a whole file to the ID3 readers: detection, parse,
// and a write/re-read of what was parsed; and as text to the conversions.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/text_codec.h"
#include "tags/id3v1_tags.h"
#include "tags/id3v2_tags.h"
#include "tags/vorbis_tags.h"

namespace {

int FuzzFile() {
  static const int fd = [] {
    const int created = ::memfd_create("fuzz_tags", 0);
    if (created < 0) std::abort();
    return created;
  }();
  return fd;
}

bool Load(int fd, const uint8_t* data, size_t size) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) return false;
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return ::lseek(fd, 0, SEEK_SET) == 0;
}

void Touch(const TAuTags& tags) {
  for (int i = 0; i < tags.Count(); ++i) {
    const std::string key = tags.KeyAt(i);
    (void)tags.GetInteger(key);
    (void)tags.GetString(key);
    (void)platform::Utf16ToUtf8(tags.GetWideString(key));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)platform::Utf16ToCp1252(platform::Utf8ToUtf16(text));
  (void)platform::Cp1252ToUtf8(text);
  TVorbisTags vorbis;
  vorbis.ReadComment(text);

  const int fd = FuzzFile();
  if (!Load(fd, data, size)) return 0;

  TId3v2Tags id3v2;
  (void)id3v2.HasTag(fd);
  const bool hasV2 = id3v2.ReadFromFile(fd);
  Touch(id3v2);

  TId3v1Tags id3v1;
  (void)id3v1.HasTag(fd);
  if (id3v1.ReadFromFile(fd)) {
    Touch(id3v1);
    (void)id3v1.MakeBlock();
  }

  // What was read must write and read back without trouble.
  if (hasV2 && size < 4096) {
    id3v2.Assign(&id3v2);
    (void)::lseek(fd, 0, SEEK_SET);
    if (id3v2.WriteToFile(fd, size % 2 == 0)) {
      (void)::lseek(fd, 0, SEEK_SET);
      TId3v2Tags again;
      if (!again.ReadFromFile(fd)) std::abort();
    }
  }
  return 0;
}
