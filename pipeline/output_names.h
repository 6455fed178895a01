// Names an output file goes under: the hidden temporary name a sink writes
// to before its output is finished, the free name beside a taken one, and
// the moves between them.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace output_names {

// The suffix every temporary output name ends in.
inline constexpr const char* kTemporarySuffix = ".qmpart";

// A hidden name beside Final, unique to this process and call:
// "dir/.song.mp3.<pid>-<n>.qmpart". Its extension is no audio format's, so a
// file left behind by a crash is never listed as a source.
std::filesystem::path TemporaryName(const std::filesystem::path& Final);
// The name is one TemporaryName gives (whatever process made it).
bool IsTemporaryName(const std::filesystem::path& Name);

// Wanted itself when Taken says it is free, else the first free of
// "stem (2).ext", "stem (3).ext", ...
std::filesystem::path FreeName(const std::filesystem::path& Wanted,
                               const std::function<bool(const std::filesystem::path&)>& Taken);
// Anything on disk under the name, a dangling symbolic link included.
bool ExistsOnDisk(const std::filesystem::path& Name);

// Moves From to To without ever replacing a file under To; false when To is
// taken (errno EEXIST), raises EAuException for any other failure.
bool MoveNoReplace(const std::filesystem::path& From, const std::filesystem::path& To);
// Moves From to To, replacing what To holds, in one step; raises
// EAuException with the system's text.
void MoveReplacing(const std::filesystem::path& From, const std::filesystem::path& To);
// Writes the file's data and the folder's entry for it to the disk; raises
// EAuException with the system's text.
void SyncFile(const std::filesystem::path& Name);
void SyncFolderOf(const std::filesystem::path& Name);

}  // namespace output_names
