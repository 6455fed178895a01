#include "app/file_list.h"

#include <algorithm>
#include <exception>
#include <system_error>

#include "codecs/format_catalog.h"

namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// "Exactly a directory": a real folder, not a symbolic link to one, so a
// walk never follows links into loops.
bool IsPlainDirectory(const fs::directory_entry& entry) {
  std::error_code ec;
  return entry.symlink_status(ec).type() == fs::file_type::directory;
}

// A regular file, or a symbolic link to one. A FIFO would block the probe's
// open for ever; a folder, a device or a socket is no audio file either.
bool IsRegularFile(const fs::directory_entry& entry) {
  std::error_code ec;
  return entry.status(ec).type() == fs::file_type::regular;
}

template <typename Visit>
void Walk(const std::string& folder, Visit&& visit) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  // Unreadable folders are passed over, as an enumeration that finds nothing.
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    visit(*it, folder + it->path().filename().string());
  }
}

}  // namespace

const std::vector<std::string>& TFileList::SupportedExtensions() { return format_catalog::InputExtensions(); }

std::vector<TFileFilter> TFileList::OpenFilters(std::string_view languageFilter) {
  // The language's text is pairs of "description|patterns"; its first pair
  // names all supported files, the others are found again by their patterns.
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t bar = languageFilter.find('|', start);
    parts.emplace_back(languageFilter.substr(start, bar == std::string_view::npos ? bar : bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  auto describe = [&parts](const std::string& patterns, std::size_t from, std::string fallback) {
    for (std::size_t i = from; i + 1 < parts.size(); i += 2) {
      if (parts[i + 1] == patterns) return parts[i];
    }
    return fallback;
  };
  auto patternsOf = [](const std::vector<std::string>& exts) {
    std::string patterns;
    for (const std::string& ext : exts) patterns += (patterns.empty() ? "*" : ";*") + ext;
    return patterns;
  };
  std::vector<TFileFilter> filters;
  const std::string all = patternsOf(SupportedExtensions());
  filters.push_back({parts.size() >= 2 ? parts[0] : std::string("All Supported Files"), all});
  for (const TFormatDescriptor* format : format_catalog::All()) {
    if (format->InputExtensions.empty()) continue;
    const std::string patterns = patternsOf(format->InputExtensions);
    filters.push_back({describe(patterns, 2, format->FileDescription + " (" + patterns + ")"), patterns});
  }
  return filters;
}

std::string TFileList::LowerExt(const fs::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ext;
}

std::string TFileList::LengthText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t minutes = seconds / 60;
  const std::int64_t rest = seconds - minutes * 60;
  return std::to_string(minutes) + ":" + (rest < 10 ? "0" : "") + std::to_string(rest);
}

std::vector<std::string> TFileList::AddPaths(const std::vector<std::string>& paths) {
  std::vector<std::string> errors;
  for (const auto& path : paths) {
    std::error_code ec;
    const fs::file_type type = fs::status(path, ec).type();
    if (type == fs::file_type::directory) {
      ScanFolder(path, errors);
    } else if (type == fs::file_type::regular) {
      AddListedFile(path, errors);
    } else {
      errors.push_back(path + ": " + (ec ? ec.message() : std::string(kMsgNotARegularFile)));
    }
  }
  return errors;
}

void TFileList::ScanFolder(std::string folder, std::vector<std::string>& errors) {
  folder = WithSlash(std::move(folder));
  Walk(folder, [this, &errors](const fs::directory_entry& entry, const std::string& full) {
    if (IsPlainDirectory(entry)) {
      if (subdirs_) ScanFolder(full, errors);
    } else if (IsRegularFile(entry)) {
      AddListedFile(full, errors);
    }
  });
}

void TFileList::CollectFolder(std::string folder, std::vector<std::string>& into) {
  folder = WithSlash(std::move(folder));
  Walk(folder, [&into](const fs::directory_entry& entry, const std::string& full) {
    if (IsPlainDirectory(entry)) {
      CollectFolder(full, into);
    } else if (IsRegularFile(entry)) {
      into.push_back(full);
    }
  });
}

void TFileList::AddListedFile(const std::string& path, std::vector<std::string>& errors) {
  try {
    AddFile(path);
  } catch (const std::exception& e) {
    errors.push_back(path + ": " + e.what());
  }
}

void TFileList::AddFile(const std::string& path) {
  const fs::path p(path);
  const std::string ext = LowerExt(p);
  const auto& supported = SupportedExtensions();
  if (std::find(supported.begin(), supported.end(), ext) == supported.end()) return;
  const std::optional<TProbeResult> probed = prober_.Probe(p, ext);
  if (!probed) return;
  const TProbeResult& probe = *probed;
  TFileRow row;
  row.Caption = p.filename().string();
  row.Length = LengthText(probe.Seconds);
  row.Samplerate = std::to_string(probe.SampleRate) + " Hz";
  row.Bitrate = probe.BitrateText;
  row.Path = path;
  row.Id = nextId_++;
  rows_.push_back(std::move(row));
  if (OnRowAdded) OnRowAdded(Count() - 1);
}

void TFileList::AddRow(TFileRow row) {
  row.Id = nextId_++;
  rows_.push_back(std::move(row));
  if (OnRowAdded) OnRowAdded(Count() - 1);
}

int TFileList::IndexOfId(std::uint64_t id) const {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].Id == id) return static_cast<int>(i);
  }
  return -1;
}

int TFileList::IndexAfterId(std::uint64_t id) const {
  const auto after = std::upper_bound(rows_.begin(), rows_.end(), id,
                                      [](std::uint64_t value, const TFileRow& row) { return value < row.Id; });
  return static_cast<int>(after - rows_.begin());
}

void TFileList::Clear() {
  rows_.clear();
  if (OnReset) OnReset();
}

int TFileList::Delete(std::vector<int> indexes) {
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  int removed = 0;
  for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
    if (*it < 0 || *it >= Count()) continue;
    rows_.erase(rows_.begin() + *it);
    ++removed;
    if (OnRowRemoved) OnRowRemoved(*it);
  }
  return removed;
}

void TFileList::SetAllChecked(bool checked) {
  for (int i = 0; i < Count(); ++i) SetChecked(i, checked);
}

void TFileList::SetChecked(int index, bool checked) {
  if (index < 0 || index >= Count()) return;
  rows_[static_cast<std::size_t>(index)].Checked = checked;
  Changed(index);
}

void TFileList::SetState(int index, TRowImage image, std::string message) {
  if (index < 0 || index >= Count()) return;
  auto& row = rows_[static_cast<std::size_t>(index)];
  row.Image = image;
  row.Message = std::move(message);
  Changed(index);
}

void TFileList::Changed(int index) {
  if (OnRowChanged) OnRowChanged(index);
}

