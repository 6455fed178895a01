#include "app/grab_driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "app/pipeline_set.h"
#include "platform/text_codec.h"
#include "tags/au_tags.h"
#include "tags/tag_fields.h"

namespace fs = std::filesystem;

namespace {

// Bytes of a title kept in a file name, so that "NN - " and the longest
// extension stay within a file name's 255 bytes.
constexpr std::size_t kMaxTitleBytes = 200;

// A title as part of a file name: no separator, no control byte, cut on a
// character boundary.
std::string FileNamePart(const std::string& title) {
  std::string out;
  for (const char c : title) {
    const auto byte = static_cast<unsigned char>(c);
    out += (c == '/' || byte < 0x20 || byte == 0x7f) ? '_' : c;
  }
  if (out.size() > kMaxTitleBytes) {
    std::size_t cut = kMaxTitleBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  // Trailing spaces and dots make names that are hard to type.
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

}  // namespace

TGrabDriver::TGrabDriver(TSettings& settings, TFileList& files, TFormatRouting& routing, TPipelineSet& components,
                         TConversionDriver& driver, const TLanguageTable& language, TDriverView& view)
    : settings_(settings),
      files_(files),
      routing_(routing),
      components_(components),
      driver_(driver),
      language_(language),
      view_(view) {
  driver_.GrabStart = [this] { MGrabStartClick(); };
  driver_.GrabPause = [this] { MGrabPauseClick(); };
  driver_.GrabStop = [this] { MGrabStopClick(); };
  driver_.StartGrabItem = [this](int index) { StartGrabItem(index); };
}

std::string TGrabDriver::TrackCaption(int track, const std::string& title) {
  char number[16];
  std::snprintf(number, sizeof number, "%02d", track);
  const std::string name = FileNamePart(title);
  if (name.empty()) return std::string("Track ") + number;
  return std::string(number) + " - " + name;
}

bool TGrabDriver::IsDriveName(const std::string& path) {
  const std::string ext = TFileList::LowerExt(path);
  if (ext == ".cue" || ext == ".toc" || ext == ".nrg") return true;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

void TGrabDriver::SelectDrive() { components_.CDIn1->CurrentDrive = settings_.driveType; }

std::vector<std::string> TGrabDriver::DriveNames() {
  std::vector<std::string> names;
  TCDIn& cd = *components_.CDIn1;
  try {
    const int count = cd.DriveCount();
    for (int i = 0; i < count; ++i) names.push_back(cd.DriveName(i));
  } catch (const std::exception&) {
    // Without the library there are no drives to offer; the CD menus say why.
    names.clear();
  }
  return names;
}

bool TGrabDriver::UseDrive(const std::string& name) {
  const int index = components_.CDIn1->AddDrive(name);
  if (index < 0) return false;
  settings_.driveType = index;
  SelectDrive();
  return true;
}

std::string TGrabDriver::ListTracks() {
  TCDIn& cd = *components_.CDIn1;
  SelectDrive();
  files_.Clear();
  discText_ = TCDText{};
  ListedDrive.clear();
  const int drives = cd.DriveCount();
  if (drives <= 0 || settings_.driveType < 0 || settings_.driveType >= drives) {
    return language_.Text(kMsgNoCDDrive);
  }
  const int count = cd.TrackCount();
  if (count <= 0) return language_.Text(kMsgNoCDTracks);
  ListedDrive = cd.DriveName(settings_.driveType);
  discText_ = cd.ReadCDText();
  for (int track = 1; track <= count; ++track) {
    const TCDTrackInfo info = cd.TrackInfo(track);
    const std::size_t at = static_cast<std::size_t>(track - 1);
    const std::string title = at < discText_.Tracks.size() ? discText_.Tracks[at].Title : std::string();
    TFileRow row;
    row.Caption = TrackCaption(track, title);
    row.Length = TFileList::LengthText(int64_t{info.Minutes} * 60 + info.Seconds);
    row.Samplerate = std::to_string(cd.GetSampleRate()) + " Hz";
    row.Bitrate = std::to_string(cd.GetBitsPerSample()) + " bps";
    row.Path = ListedDrive + "#" + std::to_string(track);
    row.Track = track;
    // A data track holds no audio: listed, so that row i stays track i + 1,
    // but not grabbed unless asked for.
    row.Checked = info.DataTrack == 0;
    files_.AddRow(std::move(row));
  }
  return std::string();
}

void TGrabDriver::MGetTracksClick() {
  // The list is not replaced under a running row.
  if (driver_.Running) return;
  std::string message;
  try {
    message = ListTracks();
  } catch (...) {
    files_.Clear();
    throw;
  }
  // The toolbar's run buttons grab the listed tracks; adding files makes
  // them convert again.
  driver_.RunMode = kRunModeGrab;
  view_.RestoreListPopup();
  if (!message.empty()) view_.ShowError(message);
}

void TGrabDriver::MGrabStartClick() {
  driver_.RunMode = kRunModeGrab;
  // A track under way holds the drive's one reader; a paused one too.
  const TCDStatus playing = components_.CDPlayer1->Status();
  if (playing == TCDStatus::cdsPlaying || playing == TCDStatus::cdsPaused) components_.CDPlayer1->Stop();
  if (files_.Count() == 0) return;
  driver_.RunPaused = false;
  if (driver_.Running) {
    if (driver_.CurrentOutput != nullptr) driver_.CurrentOutput->Resume();
    return;
  }
  if (routing_.SinkFor(settings_.outputType) == nullptr) {
    view_.ShowError(FormatMessage(kFmtNoOutputType, {settings_.outputType}));
    return;
  }
  // A row stopped a moment ago may still be ending on its worker: it ends
  // now, and its OnDone is dropped.
  if (driver_.CurrentOutput != nullptr && driver_.CurrentOutput->Busy) driver_.CurrentOutput->Stop(false);
  stopped_ = false;
  driver_.Running = true;
  driver_.CurrentIndex = 0;
  driver_.BeginRunNames();
  StartGrabItem(0);
}

void TGrabDriver::MGrabPauseClick() { driver_.MPauseClick(); }

void TGrabDriver::MGrabStopClick() {
  if (!driver_.Running || driver_.CurrentOutput == nullptr) return;
  stopped_ = true;
  driver_.CurrentOutput->Stop(true);
  driver_.Running = false;
  driver_.RunPaused = false;
  view_.SetGauge(0);
  view_.ShowProgressPanel(false);
  view_.SetStatus(std::string());
  if (driver_.CurrentIndex >= 0 && driver_.CurrentIndex < files_.Count()) {
    files_.SetState(driver_.CurrentIndex, TRowImage::None);
  }
  // CurrentIndex stays on the stopped row: the OnDone that follows marks
  // that row (done, had it just finished) and then finds stopped_ set.
}

void TGrabDriver::StartGrabItem(int index) {
  driver_.CurrentIndex = index;
  for (;;) {
    const int current = driver_.CurrentIndex;
    if (stopped_ || current < 0 || current >= files_.Count()) {
      driver_.EndRun();
      if (stopped_) view_.ShowProgressPanel(false);
      return;
    }
    // A file row (added after the tracks) is no track of the disc.
    const TFileRow row = files_.Row(current);
    if (!row.Checked || row.Track <= 0) {
      if (current < files_.Count() - 1) {
        ++driver_.CurrentIndex;
        continue;
      }
      driver_.EndRun();
      return;
    }
    driver_.Running = true;
    files_.SetState(current, TRowImage::InProgress);
    view_.ShowProgressPanel(true);
    view_.SetGauge(0);
    view_.TrackStarted(current + 1);
    driver_.SourcePath = row.Path;
    driver_.SourceExt.clear();
    driver_.OutputPath.clear();
    try {
      // The caption is the whole base name: a title's dot starts no
      // extension.
      const TConversionDriver::TOutputChoice choice = driver_.ChooseOutput(
          (fs::path(settings_.OutputDir) / (row.Caption + TFormatRouting::OutputExtFor(settings_.outputType)))
              .string());
      driver_.OutputPath = choice.Path;
      if (choice.Skip) {
        const std::string reason = FormatMessage(kFmtOutputExists, {choice.Path});
        files_.SetState(current, TRowImage::Skipped, reason);
        view_.RowSkipped(current, reason);
        if (current < files_.Count() - 1) {
          ++driver_.CurrentIndex;
          continue;
        }
        driver_.EndRun();
        view_.ShowProgressPanel(false);
        return;
      }
      const TSinkRoute& sink = PrepareTrack(row.Track);
      routing_.Configure(sink, settings_, driver_.OutputPath);
      sink.Sink->ReplaceExisting = choice.Replace;
      driver_.CurrentOutput = sink.Sink;
      if (settings_.threadPrioriry >= kMinThreadPriority && settings_.threadPrioriry <= kMaxThreadPriority) {
        driver_.CurrentOutput->SetThreadPriority(settings_.threadPrioriry);
      }
      view_.SetStatus(language_.Text(kMsgGrabbing) + row.Caption);
      driver_.CurrentOutput->Run();
      if (driver_.RunPaused) driver_.CurrentOutput->Pause();
      return;
    } catch (const std::exception& e) {
      // As a conversion row that cannot be prepared: reported, kept checked,
      // and the run goes on with the next row.
      const std::string message = e.what();
      files_.SetState(current, TRowImage::Failed, message);
      view_.RowNotStarted(message);
      view_.RowFinished(current, driver_.OutputPath, message);
      if (current < files_.Count() - 1) {
        ++driver_.CurrentIndex;
        continue;
      }
      driver_.EndRun();
      view_.ShowProgressPanel(false);
      return;
    }
  }
}

const TSinkRoute& TGrabDriver::PrepareTrack(int track) {
  const TSinkRoute* sink = routing_.SinkFor(settings_.outputType);
  if (sink == nullptr) throw std::runtime_error(FormatMessage(kFmtNoOutputType, {settings_.outputType}));
  driver_.OutputExt = routing_.OutputExtFor(settings_.outputType);
  TCDIn& cd = *components_.CDIn1;
  SelectDrive();
  cd.SelectTrack(track);
  // CD audio is PCM as a WAV file holds it, and takes the same path: for
  // WAV output through the resampler and the converter.
  TAuInput* input = &cd;
  if (sink->Format->SinkInput) {
    if (const TFormatDescriptor* wav = format_catalog::ForExtension(".wav")) {
      input = sink->Format->SinkInput(*wav, cd, sink->Chain);
    }
  }
  sink->Sink->SetInput(input);
  FillTags(*sink, track);
  return *sink;
}

void TGrabDriver::FillTags(const TSinkRoute& sink, int track) {
  if (!sink.Format->SinkTags) return;
  TAuTags* tags = sink.Format->SinkTags(*sink.Sink);
  if (tags == nullptr) return;
  tags->Clear();
  const std::size_t at = static_cast<std::size_t>(track - 1);
  const TCDTextEntry none;
  const TCDTextEntry& entry = at < discText_.Tracks.size() ? discText_.Tracks[at] : none;
  const std::string& performer = entry.Performer.empty() ? discText_.Disc.Performer : entry.Performer;
  TTagFields fields;
  fields.Title = platform::Utf8ToUtf16(entry.Title);
  fields.Artist = platform::Utf8ToUtf16(performer);
  fields.Album = platform::Utf8ToUtf16(discText_.Disc.Title);
  const std::string number = std::to_string(track);
  fields.Track.assign(number.begin(), number.end());
  WriteTagFields(*tags, fields);
}

void TGrabDriver::MEjectClick() {
  SelectDrive();
  components_.CDIn1->Eject();
}

void TGrabDriver::MCloseTrayClick() {
  SelectDrive();
  components_.CDIn1->CloseTray();
}

void TGrabDriver::PlayTrack(int track) {
  TCDPlayer& player = *components_.CDPlayer1;
  player.SetCurrentDrive(settings_.driveType);
  player.AudioDevice = settings_.audioDevice.empty() ? std::string(kDefaultAudioDevice) : settings_.audioDevice;
  player.Play(track);
}

void TGrabDriver::PauseOrResumePlaying() {
  TCDPlayer& player = *components_.CDPlayer1;
  if (player.Status() == TCDStatus::cdsPlaying) {
    player.Pause();
  } else {
    player.Resume();
  }
}

void TGrabDriver::StopPlaying() { components_.CDPlayer1->Stop(); }
