#include "cdaudio/cd_in.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pipeline/au_exception.h"

int64_t CDPositionFrames(const TCDPosition& Position) {
  return int64_t{Position.Minutes} * 4500 + int64_t{Position.Seconds} * 75 + Position.Frames;
}

TCDPosition CDFramesPosition(int64_t Frames) {
  TCDPosition p;
  if (Frames <= 0) return p;
  p.Minutes = static_cast<uint8_t>(std::min<int64_t>(Frames / 4500, 255));
  p.Seconds = static_cast<uint8_t>((Frames / 75) % 60);
  p.Frames = static_cast<uint8_t>(Frames % 75);
  return p;
}

TCDText ParseCDTextBlock(const uint8_t* Data, std::size_t Size) {
  TCDText text;
  std::size_t at = 0;
  while (Data != nullptr && at + 3 <= Size) {
    const int track = Data[at];
    const int field = Data[at + 1];
    const auto* begin = Data + at + 2;
    const auto* end = std::find(begin, Data + Size, uint8_t{0});
    if (end == Data + Size) break;
    at = static_cast<std::size_t>(end - Data) + 1;
    if (track > 99) continue;
    TCDTextEntry* entry = &text.Disc;
    if (track > 0) {
      if (text.Tracks.size() < static_cast<std::size_t>(track)) text.Tracks.resize(static_cast<std::size_t>(track));
      entry = &text.Tracks[static_cast<std::size_t>(track - 1)];
    }
    std::string value(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(end - begin));
    switch (field) {
      case CR_CDTEXT_TITLE: entry->Title = std::move(value); break;
      case CR_CDTEXT_PERFORMER: entry->Performer = std::move(value); break;
      case CR_CDTEXT_SONGWRITER: entry->Songwriter = std::move(value); break;
      case CR_CDTEXT_COMPOSER: entry->Composer = std::move(value); break;
      case CR_CDTEXT_MESSAGE: entry->Message = std::move(value); break;
      case CR_CDTEXT_ARRANGER: entry->Arranger = std::move(value); break;
      case CR_CDTEXT_ISRC: entry->Isrc = std::move(value); break;
      case CR_CDTEXT_UPC_EAN: entry->UpcEan = std::move(value); break;
      case CR_CDTEXT_GENRE: entry->Genre = std::move(value); break;
      default: break;
    }
  }
  return text;
}

// ---- drive selection ----------------------------------------------------------

// Selection is a nesting count, not a lock: the outermost selection makes
// CurrentDrive the library's active drive.
struct TCDIn::TSelection {
  explicit TSelection(TCDIn& In) : In(In) { In.SelectDrive(); }
  ~TSelection() { In.ReleaseDrive(); }
  TSelection(const TSelection&) = delete;
  TSelection& operator=(const TSelection&) = delete;
  TCDIn& In;
};

void TCDIn::SelectDrive() {
  const TCDRipLibrary& lib = Lib();
  if (DriveSelectCount.fetch_add(1) == 0) lib.SetActiveCDROM(CurrentDrive);
}

void TCDIn::ReleaseDrive() {
  int count = DriveSelectCount.load();
  while (count > 0 && !DriveSelectCount.compare_exchange_weak(count, count - 1)) {
  }
}

// ---- TCDIn ---------------------------------------------------------------------

TCDIn::TCDIn(TComponent* AOwner) : TAuInput(AOwner), ReadBuffer(kReadBufferBytes) {}

TCDIn::~TCDIn() {
  NotifyRemoval();
  if (const TCDRipLibrary* lib = FLib.load()) {
    if (Busy) lib->CloseRipper();
    ReleaseCDRipLibrary();
  }
}

const TCDRipLibrary& TCDIn::Lib() {
  if (const TCDRipLibrary* lib = FLib.load()) return *lib;
  std::lock_guard lock(FLibLock);
  if (const TCDRipLibrary* lib = FLib.load()) return *lib;
  // Loaded when first needed, so that the program starts without it; a
  // failed load is tried again at the next CD operation.
  const TCDRipLibrary* lib = AcquireCDRipLibrary();
  if (lib == nullptr) throw EAuException(kMsgCDRipNotLoaded);
  FLib = lib;
  return *lib;
}

int TCDIn::TrackCount() {
  const TCDRipLibrary& lib = Lib();
  TSelection selection(*this);
  return lib.ReadToc() == CR_OK ? lib.GetNumTocEntries() : -1;
}

TCDTrackInfo TCDIn::TrackInfo(int Track) {
  if (Track < 1 || Track > TrackCount()) throw EAuException(kMsgCDTrackOutOfRange);
  const TCDRipLibrary& lib = Lib();
  TSelection selection(*this);
  const CR_TOCENTRY start = lib.GetTocEntry(Track - 1);
  const CR_TOCENTRY next = lib.GetTocEntry(Track);
  // A damaged table may go backwards: such a track has no length.
  const TCDPosition length = CDFramesPosition(int64_t{next.dwStartSector} - start.dwStartSector);
  TCDTrackInfo info;
  info.Minutes = length.Minutes;
  info.Seconds = length.Seconds;
  info.Frames = length.Frames;
  // The data bit of the track's control bits: a data track that may be
  // copied has more bits set than this one.
  info.DataTrack = (start.btFlag & CR_FLAG_DATA) != 0 ? 1 : 0;
  return info;
}

bool TCDIn::MediaPresent() {
  const TCDRipLibrary& lib = Lib();
  TSelection selection(*this);
  int status = 0;
  lib.IsMediaLoaded(&status);
  return status == 0;
}

bool TCDIn::RangeSectors(const TCDRipLibrary& lib, int64_t& First, int64_t& Last) {
  const int entries = lib.GetNumTocEntries();
  if (StartTrack < 1 || StartTrack > entries + 1 || EndTrack < 1 || EndTrack > entries + 1) return false;
  First = int64_t{lib.GetTocEntry(StartTrack - 1).dwStartSector} + CDPositionFrames(StartPos);
  Last = int64_t{lib.GetTocEntry(EndTrack - 1).dwStartSector} + CDPositionFrames(EndPos);
  return true;
}

int64_t TCDIn::GetSize() {
  if (Busy) return RunSize;
  const TCDRipLibrary* lib = nullptr;
  try {
    lib = &Lib();
  } catch (const EAuException&) {
    return 0;
  }
  TSelection selection(*this);
  if (lib->ReadToc() != CR_OK) return 0;
  int64_t first = 0;
  int64_t last = 0;
  if (!RangeSectors(*lib, first, last) || last < first) return 0;
  return (last - first + 1) * CR_SECTOR_BYTES;
}

int64_t TCDIn::GetTotalSamples() { return GetSize() / 4; }

int TCDIn::GetTotalTime() { return static_cast<int>(std::llround(static_cast<double>(GetTotalSamples()) / 44100.0)); }

void TCDIn::SelectTrack(int Track) {
  StartTrack = Track;
  EndTrack = Track + 1;
  StartPos = TCDPosition{};
  EndPos = TCDPosition{};
}

void TCDIn::InitInternal() {
  if (Busy) throw EAuException(kMsgCDComponentBusy);
  const TCDRipLibrary& lib = Lib();

  CR_CDROMPARAMS* params = lib.GetStructPointer();
  lib.GetCDROMParameters(params);
  lib.SetJitterCorrection(params, EnableJitterCorrection ? -1 : 0);
  lib.SetEnableMultiRead(params, MultiReadCount > 0 ? -1 : 0);
  lib.SetMultiReadCount(params, MultiReadCount);
  lib.SetParanoidMode(params, Paranoid ? -1 : 0);
  lib.SetParanoiaMode(params, ParanoiaMode);
  lib.LockCDTrayWhileRipping(params, LockTray ? 1 : 0);
  lib.SetCDROMParameters(params);

  if (!MediaPresent()) throw EAuException(kMsgCDDriveNotReady);
  const int tracks = TrackCount();
  if (StartTrack < 1 || StartTrack > tracks) throw EAuException(kMsgCDStartTrackOutOfRange);
  if (TrackInfo(StartTrack).DataTrack != 0) throw EAuException(kMsgCDDataTrack);
  if (EndTrack < 1 || EndTrack > tracks + 1) throw EAuException(kMsgCDEndTrackOutOfRange);

  SelectDrive();
  try {
    int64_t first = 0;
    int64_t last = 0;
    if (lib.ReadToc() != CR_OK || !RangeSectors(lib, first, last)) throw EAuException(kMsgCDDriveNotReady);
    if (last < first) throw EAuException(kMsgCDRangeReversed);
    if (first > INT32_MAX || last > INT32_MAX) throw EAuException(kMsgCDEndTrackOutOfRange);
    RunToc.clear();
    for (int i = 0; i <= tracks; ++i) RunToc.push_back(lib.GetTocEntry(i));
    RunFirst = first;
    // The library reads [first, last): the sector at last belongs to the next
    // track. Size is what the run delivers, so that a sink which fills a
    // short source up to its Size adds nothing to the track.
    RunSize = (last - first) * CR_SECTOR_BYTES;
    BufferSize = static_cast<int32_t>(kReadBufferBytes);
    const int rc = lib.OpenRipper(&BufferSize, static_cast<int32_t>(first), static_cast<int32_t>(last));
    switch (rc) {
      case CR_OK: break;
      case CR_ERR_DATA_TRACK: throw EAuException(kMsgCDDataTrack);
      case CR_ERR_RANGE: throw EAuException(kMsgCDRangeReversed);
      case CR_ERR_RIPPER_OPEN: throw EAuException(kMsgCDReaderBusy);
      default: throw EAuException(kMsgCDDriveNotReady);
    }
    BufferSize = std::clamp<int32_t>(BufferSize, CR_SECTOR_BYTES, static_cast<int32_t>(kReadBufferBytes));
  } catch (...) {
    ReleaseDrive();
    throw;
  }
  Size = RunSize.load();
  Position = 0;
  ReadBuffer.Clear();
  Busy = true;
}

void TCDIn::FlushInternal() {
  if (Busy) {
    const TCDRipLibrary& lib = Lib();
    JitterErrors = lib.GetNumberOfJitterErrors();
    lib.CloseRipper();
    ReleaseDrive();
  }
  Busy = false;
  Size = 0;
}

void TCDIn::FailRead(int Code) {
  const int64_t sector = Lib().GetCurrentRipSector();
  // The track holding the sector, and how far into it the sector lies.
  int track = 0;
  int64_t start = RunFirst;
  for (std::size_t i = 0; i + 1 < RunToc.size(); ++i) {
    if (RunToc[i].dwStartSector <= sector) {
      track = static_cast<int>(i) + 1;
      start = RunToc[i].dwStartSector;
    }
  }
  const TCDPosition at = CDFramesPosition(sector - start);
  char message[160];
  std::snprintf(message, sizeof message, Code == CR_ERR_UNVERIFIED ? kFmtCDUnverified : kFmtCDReadError, track,
                at.Minutes, at.Seconds, at.Frames);
  throw EAuException(message);
}

void TCDIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!Busy) throw EAuException(kMsgStreamNotOpened);
  if (ReadBuffer.Empty()) {
    int32_t read = 0;
    int32_t abort = 0;
    const int rc = Lib().RipChunk(ReadBuffer.Data(), &read, &abort);
    // A failed read ends the run as failed: a short file must not pass for
    // a whole track.
    if (rc != CR_OK) FailRead(rc);
    ReadBuffer.Filled(static_cast<std::size_t>(std::clamp<int32_t>(read, 0, BufferSize)));
  }
  ReadBuffer.Serve(Buffer, Bytes, 4);
  Position += Bytes;
}

int TCDIn::DriveCount() { return Lib().GetNumCDROM(); }

std::string TCDIn::DriveName(int Drive) {
  char name[1024];
  if (Lib().GetDriveName(Drive, name, sizeof name) != CR_OK) return {};
  return name;
}

int TCDIn::AddDrive(const std::string& Name) { return Lib().AddCDROM(Name.c_str()); }

TCDText TCDIn::ReadCDText() {
  const TCDRipLibrary& lib = Lib();
  TSelection selection(*this);
  if (lib.ReadToc() != CR_OK) return {};
  int size = 0;
  lib.ReadCDText(nullptr, 0, &size);
  if (size <= 0) return {};
  std::vector<uint8_t> block(static_cast<std::size_t>(size));
  if (lib.ReadCDText(block.data(), size, &size) != CR_OK) return {};
  return ParseCDTextBlock(block.data(), std::min(block.size(), static_cast<std::size_t>(size)));
}

void TCDIn::Eject() {
  const TCDRipLibrary& lib = Lib();
  TSelection selection(*this);
  if (lib.GetCDROMType() == CR_TYPE_IMAGE && lib.GetNumCDROM() > CurrentDrive)
    throw EAuException(kMsgCDImageHasNoTray);
  switch (lib.EjectCD(1)) {
    case CR_OK: return;
    case CR_ERR_NO_DRIVE: throw EAuException(kMsgCDDriveNotReady);
    case CR_ERR_RIPPER_OPEN: throw EAuException(kMsgCDReaderBusy);
    default: throw EAuException(kMsgCDCannotEject);
  }
}

void TCDIn::CloseTray() {
  const TCDRipLibrary& lib = Lib();
  TSelection selection(*this);
  if (lib.GetCDROMType() == CR_TYPE_IMAGE && lib.GetNumCDROM() > CurrentDrive)
    throw EAuException(kMsgCDImageHasNoTray);
  switch (lib.EjectCD(0)) {
    case CR_OK: return;
    case CR_ERR_NO_DRIVE: throw EAuException(kMsgCDDriveNotReady);
    case CR_ERR_RIPPER_OPEN: throw EAuException(kMsgCDReaderBusy);
    default: throw EAuException(kMsgCDCannotCloseTray);
  }
}
