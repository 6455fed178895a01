// The CD reading library on libcdio (drives, tables, CD-Text) and
// libcdio-paranoia (reading). All state is process-wide behind one lock.
//
// Hazards of the libraries underneath, measured with libcdio 2.1 and
// paranoia 10.2, that shape this file:
// - paranoia spins for ever at full CPU when asked for a data track's
//   sectors: a range touching a data track is refused before paranoia sees it;
// - cdio_eject_media on a disc image frees the image's internals and fails,
//   and a later cdio_destroy crashes: an image is never ejected;
// - libcdio logs to standard error unless a handler is installed;
// - an image read of several sectors succeeds as soon as its first sector is
//   there, leaving the rest of the buffer as it was: each sector's tail is
//   marked before a read and a mark left standing is read again alone.

#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/logging.h>
#include <cdio/mmc_ll_cmds.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "cdrip.h"
#include "disc_text.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDefaultRetries = 20;
constexpr int kDefaultReadSectors = 25;

// ---- messages ---------------------------------------------------------------

std::mutex g_messageLock;
std::string g_lastMessage;

void Remember(const std::string& message) {
  std::lock_guard lock(g_messageLock);
  g_lastMessage = message;
}

void LogHandler(cdio_log_level_t, const char* message) {
  if (message != nullptr) Remember(message);
}

void Silence() { cdio_log_set_handler(LogHandler); }

void CopyText(const std::string& text, char* out, int size) {
  if (out == nullptr || size <= 0) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// ---- drives -----------------------------------------------------------------

struct TDrive {
  std::string Name;
  // Canonical path, to find a drive added twice under two names.
  std::string Key;
  bool Image = false;
  driver_id_t Driver = DRIVER_DEVICE;
  CdIo_t* Cdio = nullptr;
  bool TocValid = false;
  std::vector<CR_TOCENTRY> Toc;
  std::vector<uint8_t> CdText;

  ~TDrive() { Close(); }
  void Close() {
    if (Cdio != nullptr) cdio_destroy(Cdio);
    Cdio = nullptr;
  }
  bool Open() {
    if (Cdio == nullptr) Cdio = cdio_open(Name.c_str(), Driver);
    return Cdio != nullptr;
  }
};

struct TRipper {
  TDrive* Drive = nullptr;
  cdrom_drive_t* Cdda = nullptr;
  cdrom_paranoia_t* Paranoia = nullptr;
  int32_t First = 0;
  int32_t End = 0;
  int32_t Next = 0;
  int32_t BufferSectors = 1;
  int32_t ReadSectors = kDefaultReadSectors;
  int Retries = kDefaultRetries;
  bool TrayLocked = false;
  // The error that ended the run; every later chunk reports it again.
  CR_ERR Failure = CR_OK;
  int32_t FailedSector = 0;

  ~TRipper() {
    if (Paranoia != nullptr) cdio_paranoia_free(Paranoia);
    if (Cdda != nullptr) cdio_cddap_close_no_free_cdio(Cdda);
    if (TrayLocked && Drive != nullptr && Drive->Cdio != nullptr)
      mmc_prevent_allow_medium_removal(Drive->Cdio, false, false, 0);
  }
};

// What the last ripper counted; kept after it closes.
struct TRipStats {
  int JitterErrors = 0;
  int32_t LastJitterSector = -1;
  int JitterPercent = 0;
  int Peak = 0;
  int32_t CurrentSector = 0;
  int Percent = 0;
};

struct TState {
  std::mutex Lock;
  bool Initialised = false;
  std::vector<std::unique_ptr<TDrive>> Drives;
  int Active = 0;
  CR_CDROMPARAMS Params{};
  CR_CDROMPARAMS Record{};
  std::unique_ptr<TRipper> Ripper;
  TRipStats Stats;
};

TState& State() {
  static TState state;
  return state;
}

CR_CDROMPARAMS DefaultParams() {
  CR_CDROMPARAMS p{};
  p.nReadSectors = kDefaultReadSectors;
  p.nOverlapSectors = 0;
  p.nCompareSectors = 0;
  p.nTransportLayer = 1;
  return p;
}

TDrive* ActiveDrive(TState& s) {
  if (!s.Initialised || s.Active < 0 || s.Active >= static_cast<int>(s.Drives.size())) return nullptr;
  return s.Drives[static_cast<std::size_t>(s.Active)].get();
}

bool EndsWith(const std::string& text, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  if (text.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != suffix[i]) return false;
  }
  return true;
}

bool ImageDriver(const std::string& name, driver_id_t& driver) {
  if (EndsWith(name, ".cue")) {
    driver = DRIVER_BINCUE;
  } else if (EndsWith(name, ".toc")) {
    driver = DRIVER_CDRDAO;
  } else if (EndsWith(name, ".nrg")) {
    driver = DRIVER_NRG;
  } else {
    return false;
  }
  return true;
}

std::string CanonicalKey(const std::string& name) {
  std::error_code ec;
  const fs::path canonical = fs::weakly_canonical(fs::path(name), ec);
  return ec ? name : canonical.string();
}

// ---- table of contents ----------------------------------------------------------

const cdtext_field_t kTextFields[] = {CDTEXT_FIELD_TITLE,   CDTEXT_FIELD_PERFORMER, CDTEXT_FIELD_SONGWRITER,
                                      CDTEXT_FIELD_COMPOSER, CDTEXT_FIELD_MESSAGE,  CDTEXT_FIELD_ARRANGER,
                                      CDTEXT_FIELD_ISRC,     CDTEXT_FIELD_UPC_EAN,  CDTEXT_FIELD_GENRE};

void ReadText(TDrive& d, track_t firstTrack, track_t tracks) {
  d.CdText.clear();
  cdtext_t* text = cdio_get_cdtext(d.Cdio);
  if (text == nullptr) return;
  for (int t = 0; t <= tracks; ++t) {
    const track_t number = t == 0 ? 0 : static_cast<track_t>(firstTrack + t - 1);
    for (const cdtext_field_t field : kTextFields) {
      const char* value = cdtext_get_const(text, field, number);
      if (value == nullptr) continue;
      const std::string clean = cdrip::CleanTextValue(value);
      if (!clean.empty()) cdrip::AppendTextRecord(d.CdText, t, static_cast<int>(field), clean);
    }
  }
}

CR_ERR ReadTocLocked(TState& s, TDrive& d) {
  // A ripper reads through the drive's handle: the table it was opened with
  // stands until it closes.
  if (s.Ripper && s.Ripper->Drive == &d) return d.TocValid ? CR_OK : CR_ERR_NO_TOC;
  d.TocValid = false;
  d.Toc.clear();
  d.CdText.clear();
  // Opened afresh, so that a changed disc (or a rewritten image) is seen.
  d.Close();
  if (!d.Open()) return d.Image ? CR_ERR_NO_DRIVE : CR_ERR_NO_MEDIA;
  const track_t first = cdio_get_first_track_num(d.Cdio);
  const track_t count = cdio_get_num_tracks(d.Cdio);
  if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 || count > CDIO_CD_MAX_TRACKS ||
      first + count - 1 > CDIO_CD_MAX_TRACKS) {
    return CR_ERR_NO_TOC;
  }
  for (track_t i = 0; i < count; ++i) {
    const track_t track = static_cast<track_t>(first + i);
    const lsn_t lsn = cdio_get_track_lsn(d.Cdio, track);
    if (lsn == CDIO_INVALID_LSN || lsn < 0) return CR_ERR_NO_TOC;
    CR_TOCENTRY e{};
    e.dwStartSector = lsn;
    e.btTrackNumber = track;
    if (cdio_get_track_format(d.Cdio, track) != TRACK_FORMAT_AUDIO) e.btFlag |= CR_FLAG_DATA;
    if (cdio_get_track_copy_permit(d.Cdio, track) == CDIO_TRACK_FLAG_TRUE) e.btFlag |= CR_FLAG_COPY_PERMITTED;
    if (cdio_get_track_preemphasis(d.Cdio, track) == CDIO_TRACK_FLAG_TRUE) e.btFlag |= CR_FLAG_PREEMPHASIS;
    if (cdio_get_track_channels(d.Cdio, track) == 4) e.btFlag |= CR_FLAG_FOUR_CHANNEL;
    d.Toc.push_back(e);
  }
  const lsn_t leadout = cdio_get_track_lsn(d.Cdio, CDIO_CDROM_LEADOUT_TRACK);
  if (leadout == CDIO_INVALID_LSN || leadout < 0) {
    d.Toc.clear();
    return CR_ERR_NO_TOC;
  }
  CR_TOCENTRY out{};
  out.dwStartSector = leadout;
  out.btTrackNumber = CR_LEADOUT_TRACK;
  d.Toc.push_back(out);
  d.TocValid = true;
  ReadText(d, first, count);
  return CR_OK;
}

// ---- reading ---------------------------------------------------------------------

thread_local struct TParanoiaEvents {
  bool Skipped = false;
  bool ReadError = false;
  bool Corrected = false;
} t_events;

void ParanoiaCallback(long, paranoia_cb_mode_t mode) {
  switch (mode) {
    case PARANOIA_CB_SKIP:
      t_events.Skipped = true;
      break;
    case PARANOIA_CB_READERR:
      t_events.ReadError = true;
      break;
    case PARANOIA_CB_FIXUP_EDGE:
    case PARANOIA_CB_FIXUP_ATOM:
    case PARANOIA_CB_FIXUP_DROPPED:
    case PARANOIA_CB_FIXUP_DUPED:
    case PARANOIA_CB_DRIFT:
      t_events.Corrected = true;
      break;
    default:
      break;
  }
}

// The tail of every sector is marked before a read with pairs of equal bytes,
// which byte swapping leaves as they are; real audio ends a sector with the
// same 32 bytes as one mark and then again as the other only in theory.
constexpr std::size_t kMarkBytes = 32;

void Mark(uint8_t* sector, uint8_t seed) {
  uint8_t* tail = sector + CR_SECTOR_BYTES - kMarkBytes;
  for (std::size_t i = 0; i < kMarkBytes; i += 2) {
    const auto v = static_cast<uint8_t>(seed + 37 * i);
    tail[i] = v;
    tail[i + 1] = v;
  }
}

bool StillMarked(const uint8_t* sector, uint8_t seed) {
  const uint8_t* tail = sector + CR_SECTOR_BYTES - kMarkBytes;
  for (std::size_t i = 0; i < kMarkBytes; i += 2) {
    const auto v = static_cast<uint8_t>(seed + 37 * i);
    if (tail[i] != v || tail[i + 1] != v) return false;
  }
  return true;
}

constexpr uint8_t kFirstMark = 0xA7;
constexpr uint8_t kSecondMark = 0x5B;

bool ReadOneSector(TRipper& r, uint8_t* out, int32_t sector) {
  Mark(out, kSecondMark);
  if (cdio_cddap_read(r.Cdda, out, sector, 1) != 1) return false;
  return !StillMarked(out, kSecondMark);
}

// Plain reads of count sectors from sector; returns the sectors read before
// the first one that could not be.
int32_t ReadPlain(TRipper& r, uint8_t* out, int32_t sector, int32_t count) {
  int32_t done = 0;
  while (done < count) {
    const int32_t want = std::min(count - done, r.ReadSectors);
    uint8_t* at = out + static_cast<std::size_t>(done) * CR_SECTOR_BYTES;
    for (int32_t i = 0; i < want; ++i) Mark(at + static_cast<std::size_t>(i) * CR_SECTOR_BYTES, kFirstMark);
    const long got = cdio_cddap_read(r.Cdda, at, sector + done, want);
    if (got <= 0) {
      // Which sector failed: read them one at a time.
      if (!ReadOneSector(r, at, sector + done)) return done;
      ++done;
      continue;
    }
    for (long i = 0; i < got; ++i) {
      uint8_t* one = at + static_cast<std::size_t>(i) * CR_SECTOR_BYTES;
      if (StillMarked(one, kFirstMark) && !ReadOneSector(r, one, sector + done + static_cast<int32_t>(i)))
        return done + static_cast<int32_t>(i);
    }
    done += static_cast<int32_t>(got);
  }
  return done;
}

// The first sector of [from, end) that a plain read cannot deliver (any
// sector from the lead-out on), or -1.
int32_t FirstUnreadable(TRipper& r, int32_t from, int32_t end) {
  const int32_t leadout = r.Drive->Toc.back().dwStartSector;
  std::vector<uint8_t> one(CR_SECTOR_BYTES);
  for (int32_t sector = from; sector < end; ++sector) {
    if (sector >= leadout || !ReadOneSector(r, one.data(), sector)) return sector;
  }
  return -1;
}

// The byte order of an image's audio, from sectors of the range that are
// really there: 1 big-endian, 0 little-endian, -1 when none could be read.
// The CD library's own guess reads sectors anywhere on the disc, and an image
// whose data ends early hands it stale buffers for the missing ones, which
// can make it swap every sample. Audio changes little from one sample to
// the next; read in the wrong order its low bytes jump.
int ImageByteOrder(TRipper& r, int32_t first, int32_t end) {
  const int32_t leadout = r.Drive->Toc.back().dwStartSector;
  end = std::min(end, leadout);
  if (end <= first) return -1;
  constexpr int kProbes = 16;
  std::vector<uint8_t> sector(CR_SECTOR_BYTES);
  double little = 0;
  double big = 0;
  int read = 0;
  for (int i = 0; i < kProbes; ++i) {
    const int32_t at = first + static_cast<int32_t>(static_cast<int64_t>(end - first) * i / kProbes);
    Mark(sector.data(), kSecondMark);
    if (cdio_read_audio_sectors(r.Drive->Cdio, sector.data(), at, 1) != DRIVER_OP_SUCCESS ||
        StillMarked(sector.data(), kSecondMark))
      continue;
    ++read;
    for (int channel = 0; channel < 2; ++channel) {
      int prevLittle = 0;
      int prevBig = 0;
      for (std::size_t k = static_cast<std::size_t>(channel) * 2; k + 1 < sector.size(); k += 4) {
        const int l = static_cast<int16_t>(static_cast<uint16_t>(sector[k] | (sector[k + 1] << 8)));
        const int b = static_cast<int16_t>(static_cast<uint16_t>(sector[k + 1] | (sector[k] << 8)));
        if (k >= 4) {
          little += std::abs(l - prevLittle);
          big += std::abs(b - prevBig);
        }
        prevLittle = l;
        prevBig = b;
      }
    }
  }
  if (read == 0) return -1;
  return big * 2 < little ? 1 : 0;
}

// Runs over every sample read: kept to a form the compiler vectorises.
int PeakOf(const uint8_t* data, std::size_t bytes) {
  int16_t high = 0;
  int16_t low = 0;
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    int16_t v;
    std::memcpy(&v, data + i, sizeof v);
    high = std::max(high, v);
    low = std::min(low, v);
  }
  return std::max<int>(high, -static_cast<int>(low));
}

int ParanoiaModeFor(const CR_CDROMPARAMS& p) {
  if (p.nParanoiaMode != 0) return (p.nParanoiaMode & PARANOIA_MODE_FULL) & ~PARANOIA_MODE_NEVERSKIP;
  if (p.bParanoid != 0) return PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP;
  if (p.bJitterCorrection != 0) return PARANOIA_MODE_OVERLAP | PARANOIA_MODE_VERIFY;
  return PARANOIA_MODE_DISABLE;
}

std::string DriveId(TDrive& d) {
  if (!d.Open()) return {};
  cdio_hwinfo_t hw{};
  if (!cdio_get_hwinfo(d.Cdio, &hw)) return {};
  std::string id = hw.psz_vendor;
  for (const char* part : {hw.psz_model, hw.psz_revision}) {
    if (*part == '\0') continue;
    if (!id.empty()) id += ' ';
    id += part;
  }
  return id;
}

}  // namespace

extern "C" {

// ---- lifetime ----------------------------------------------------------------

CR_ERR CR_Init(int) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  Silence();
  if (s.Initialised) return CR_OK;
  s.Params = DefaultParams();
  s.Record = s.Params;
  s.Drives.clear();
  s.Active = 0;
  s.Stats = TRipStats{};
  char** devices = cdio_get_devices(DRIVER_DEVICE);
  if (devices != nullptr) {
    for (char** d = devices; *d != nullptr; ++d) {
      auto drive = std::make_unique<TDrive>();
      drive->Name = *d;
      drive->Key = CanonicalKey(*d);
      drive->Driver = DRIVER_DEVICE;
      s.Drives.push_back(std::move(drive));
    }
    cdio_free_device_list(devices);
  }
  s.Initialised = true;
  return CR_OK;
}

CR_ERR CR_DeInit(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  s.Ripper.reset();
  s.Drives.clear();
  s.Active = 0;
  s.Initialised = false;
  return CR_OK;
}

int CR_GetCDRipVersion(void) { return CR_VERSION; }

// ---- drives ------------------------------------------------------------------

int CR_GetNumCDROM(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Initialised ? static_cast<int>(s.Drives.size()) : 0;
}

int CR_GetActiveCDROM(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Active;
}

CR_ERR CR_SetActiveCDROM(int nActiveDrive) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  if (!s.Initialised) return CR_ERR_NOT_INITIALISED;
  // Any index is kept, so that a drive chosen before it is found (or after
  // it went) reports "no drive" rather than reading another one.
  s.Active = nActiveDrive;
  return nActiveDrive >= 0 && nActiveDrive < static_cast<int>(s.Drives.size()) ? CR_OK : CR_ERR_NO_DRIVE;
}

int CR_AddCDROM(const char* pszName) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  Silence();
  if (!s.Initialised || pszName == nullptr || *pszName == '\0') return -1;
  std::string name = pszName;
  struct stat st {};
  const bool exists = ::stat(name.c_str(), &st) == 0;
  const bool device = exists && S_ISBLK(st.st_mode);
  driver_id_t driver = DRIVER_DEVICE;
  if (!device) {
    if (EndsWith(name, ".bin")) {
      // libcdio opens a .bin only through its cue sheet.
      std::string cue = name.substr(0, name.size() - 4) + ".cue";
      std::error_code ec;
      if (!fs::is_regular_file(cue, ec)) cue = name.substr(0, name.size() - 4) + ".CUE";
      if (!fs::is_regular_file(cue, ec)) {
        Remember("no cue sheet beside " + name);
        return -1;
      }
      name = cue;
    }
    std::error_code ec;
    if (!ImageDriver(name, driver) || !fs::is_regular_file(name, ec)) {
      Remember("not a CD device or disc image: " + name);
      return -1;
    }
  }
  const std::string key = CanonicalKey(name);
  for (std::size_t i = 0; i < s.Drives.size(); ++i) {
    if (s.Drives[i]->Key == key) return static_cast<int>(i);
  }
  auto drive = std::make_unique<TDrive>();
  drive->Name = name;
  drive->Key = key;
  drive->Image = !device;
  drive->Driver = driver;
  if (!drive->Open()) {
    Remember("cannot open " + name);
    return -1;
  }
  s.Drives.push_back(std::move(drive));
  return static_cast<int>(s.Drives.size() - 1);
}

CR_ERR CR_GetDriveName(int nDrive, char* pszName, int nSize) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  if (pszName == nullptr || nSize <= 0) return CR_ERR_INVALID_PARAMETER;
  pszName[0] = '\0';
  if (!s.Initialised || nDrive < 0 || nDrive >= static_cast<int>(s.Drives.size())) return CR_ERR_NO_DRIVE;
  CopyText(s.Drives[static_cast<std::size_t>(nDrive)]->Name, pszName, nSize);
  return CR_OK;
}

int CR_GetCDROMType(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  const TDrive* d = ActiveDrive(s);
  return d != nullptr && d->Image ? CR_TYPE_IMAGE : CR_TYPE_DEVICE;
}

CR_ERR CR_SelectCDROMType(int nType) {
  // What a drive is follows from its name; a choice that agrees is accepted.
  TState& s = State();
  std::lock_guard lock(s.Lock);
  const TDrive* d = ActiveDrive(s);
  if (d == nullptr) return CR_ERR_NO_DRIVE;
  return nType == (d->Image ? CR_TYPE_IMAGE : CR_TYPE_DEVICE) ? CR_OK : CR_ERR_NOT_SUPPORTED;
}


CR_ERR CR_GetDriveID(char* pszID, int nSize) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  if (pszID == nullptr || nSize <= 0) return CR_ERR_INVALID_PARAMETER;
  pszID[0] = '\0';
  TDrive* d = ActiveDrive(s);
  if (d == nullptr) return CR_ERR_NO_DRIVE;
  CopyText(DriveId(*d), pszID, nSize);
  return CR_OK;
}

CR_ERR CR_SetTransportLayer(int nTransportLayer) {
  // One transport here (SCSI generic through libcdio): the value is kept.
  TState& s = State();
  std::lock_guard lock(s.Lock);
  s.Params.nTransportLayer = nTransportLayer;
  return CR_OK;
}

int CR_GetTransportLayer(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Params.nTransportLayer;
}

// ---- parameters --------------------------------------------------------------

CR_CDROMPARAMS* CR_GetStructPointer(void) { return &State().Record; }

CR_ERR CR_GetCDROMParameters(CR_CDROMPARAMS* pParam) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  if (pParam == nullptr) return CR_ERR_INVALID_PARAMETER;
  *pParam = s.Params;
  pParam->lpszDriveName[0] = '\0';
  pParam->lpszDriveID[0] = '\0';
  TDrive* d = ActiveDrive(s);
  pParam->nCDROMType = d != nullptr && d->Image ? CR_TYPE_IMAGE : CR_TYPE_DEVICE;
  if (d != nullptr) {
    CopyText(d->Name, pParam->lpszDriveName, sizeof pParam->lpszDriveName);
    CopyText(DriveId(*d), pParam->lpszDriveID, sizeof pParam->lpszDriveID);
  }
  return CR_OK;
}

CR_ERR CR_SetCDROMParameters(const CR_CDROMPARAMS* pParam) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  if (pParam == nullptr) return CR_ERR_INVALID_PARAMETER;
  CR_CDROMPARAMS p = *pParam;
  std::memcpy(p.lpszDriveName, s.Params.lpszDriveName, sizeof p.lpszDriveName);
  std::memcpy(p.lpszDriveID, s.Params.lpszDriveID, sizeof p.lpszDriveID);
  p.nCDROMType = s.Params.nCDROMType;
  if (p.nReadSectors <= 0) p.nReadSectors = kDefaultReadSectors;
  s.Params = p;
  return CR_OK;
}

// The library keeps its settings in memory only.
CR_ERR CR_LoadSettings(void) { return CR_ERR_NOT_SUPPORTED; }
CR_ERR CR_SaveSettings(void) { return CR_ERR_NOT_SUPPORTED; }

#define CDRIP_FIELD(GET, SET, FIELD)                                   \
  int GET(const CR_CDROMPARAMS* pParam) { return pParam ? pParam->FIELD : 0; } \
  CR_ERR SET(CR_CDROMPARAMS* pParam, int32_t nValue) {                 \
    if (pParam == nullptr) return CR_ERR_INVALID_PARAMETER;            \
    pParam->FIELD = nValue;                                            \
    return CR_OK;                                                      \
  }

CDRIP_FIELD(CR_GetJitterCorrection, CR_SetJitterCorrection, bJitterCorrection)
CDRIP_FIELD(CR_GetReadSectors, CR_SetReadSectors, nReadSectors)
CDRIP_FIELD(CR_GetOverlapSectors, CR_SetOverlapSectors, nOverlapSectors)
CDRIP_FIELD(CR_GetCompareSectors, CR_SetCompareSectors, nCompareSectors)
CDRIP_FIELD(CR_GetEnableMultiRead, CR_SetEnableMultiRead, bEnableMultiRead)
CDRIP_FIELD(CR_GetMultiReadCount, CR_SetMultiReadCount, nMultiReadCount)
CDRIP_FIELD(CR_IsParanoidMode, CR_SetParanoidMode, bParanoid)
CDRIP_FIELD(CR_GetParanoiaMode, CR_SetParanoiaMode, nParanoiaMode)
#undef CDRIP_FIELD

CR_ERR CR_LockCDTrayWhileRipping(CR_CDROMPARAMS* pParam, int32_t bValue) {
  if (pParam == nullptr) return CR_ERR_INVALID_PARAMETER;
  pParam->bLockDuringRip = bValue;
  return CR_OK;
}

// ---- table of contents ---------------------------------------------------------

CR_ERR CR_ReadToc(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  Silence();
  if (!s.Initialised) return CR_ERR_NOT_INITIALISED;
  TDrive* d = ActiveDrive(s);
  if (d == nullptr) return CR_ERR_NO_DRIVE;
  return ReadTocLocked(s, *d);
}

int CR_GetNumTocEntries(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  const TDrive* d = ActiveDrive(s);
  return d != nullptr && d->TocValid ? static_cast<int>(d->Toc.size()) - 1 : 0;
}

CR_TOCENTRY CR_GetTocEntry(int nTocEntry) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  const TDrive* d = ActiveDrive(s);
  if (d == nullptr || !d->TocValid || nTocEntry < 0 || nTocEntry >= static_cast<int>(d->Toc.size()))
    return CR_TOCENTRY{};
  return d->Toc[static_cast<std::size_t>(nTocEntry)];
}

CR_ERR CR_ReadCDText(unsigned char* pbtBuffer, int nBufferSize, int* pnTextSize) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  if (pnTextSize == nullptr) return CR_ERR_INVALID_PARAMETER;
  *pnTextSize = 0;
  const TDrive* d = ActiveDrive(s);
  if (d == nullptr) return CR_ERR_NO_DRIVE;
  if (!d->TocValid) return CR_ERR_NO_TOC;
  *pnTextSize = static_cast<int>(d->CdText.size());
  if (d->CdText.empty()) return CR_OK;
  if (pbtBuffer == nullptr || nBufferSize < static_cast<int>(d->CdText.size())) return CR_ERR_BUFFER_TOO_SMALL;
  std::memcpy(pbtBuffer, d->CdText.data(), d->CdText.size());
  return CR_OK;
}

// ---- drive state ----------------------------------------------------------------

CR_ERR CR_IsMediaLoaded(int* pnStatus) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  Silence();
  if (pnStatus == nullptr) return CR_ERR_INVALID_PARAMETER;
  *pnStatus = CR_MEDIA_NOT_LOADED;
  if (!s.Initialised) return CR_ERR_NOT_INITIALISED;
  TDrive* d = ActiveDrive(s);
  if (d == nullptr) return CR_ERR_NO_DRIVE;
  const CR_ERR e = ReadTocLocked(s, *d);
  if (e == CR_OK) *pnStatus = CR_MEDIA_LOADED;
  return e == CR_ERR_NO_TOC ? CR_OK : e;
}

int CR_IsUnitReady(void) {
  int status = CR_MEDIA_NOT_LOADED;
  return CR_IsMediaLoaded(&status) == CR_OK && status == CR_MEDIA_LOADED ? 1 : 0;
}

CR_ERR CR_EjectCD(int bEject) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  Silence();
  TDrive* d = ActiveDrive(s);
  if (d == nullptr) return CR_ERR_NO_DRIVE;
  if (d->Image) {
    Remember("a disc image has no tray");
    return CR_ERR_NOT_SUPPORTED;
  }
  if (s.Ripper && s.Ripper->Drive == d) return CR_ERR_RIPPER_OPEN;
  d->TocValid = false;
  d->Toc.clear();
  d->CdText.clear();
  if (bEject != 0) {
    if (!d->Open()) return CR_ERR_NO_DRIVE;
    // On success the handle is freed and set to null.
    const driver_return_code_t rc = cdio_eject_media(&d->Cdio);
    return rc == DRIVER_OP_SUCCESS ? CR_OK : CR_ERR_NOT_SUPPORTED;
  }
  d->Close();
  driver_id_t driver = DRIVER_DEVICE;
  return cdio_close_tray(d->Name.c_str(), &driver) == DRIVER_OP_SUCCESS ? CR_OK : CR_ERR_NOT_SUPPORTED;
}

CR_ERR CR_LockCD(int bLock) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  TDrive* d = ActiveDrive(s);
  if (d == nullptr) return CR_ERR_NO_DRIVE;
  if (d->Image || !d->Open()) return CR_ERR_NOT_SUPPORTED;
  return mmc_prevent_allow_medium_removal(d->Cdio, false, bLock != 0, 0) == DRIVER_OP_SUCCESS ? CR_OK
                                                                                             : CR_ERR_NOT_SUPPORTED;
}

// ---- ripping ---------------------------------------------------------------------

CR_ERR CR_OpenRipper(int32_t* plBufferSize, int32_t dwStartSector, int32_t dwEndSector) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  Silence();
  if (!s.Initialised) return CR_ERR_NOT_INITIALISED;
  if (plBufferSize == nullptr) return CR_ERR_INVALID_PARAMETER;
  if (s.Ripper) return CR_ERR_RIPPER_OPEN;
  TDrive* d = ActiveDrive(s);
  if (d == nullptr) return CR_ERR_NO_DRIVE;
  if (!d->TocValid) {
    const CR_ERR e = ReadTocLocked(s, *d);
    if (e != CR_OK) return e;
  }
  const CR_ERR range = cdrip::CheckRipRange(d->Toc, dwStartSector, dwEndSector);
  if (range != CR_OK) return range;

  auto r = std::make_unique<TRipper>();
  r->Drive = d;
  r->First = dwStartSector;
  r->End = dwEndSector;
  r->Next = dwStartSector;
  r->BufferSectors = std::max<int32_t>(1, *plBufferSize / CR_SECTOR_BYTES);
  r->ReadSectors = std::max<int32_t>(1, s.Params.nReadSectors);
  r->Retries = s.Params.bEnableMultiRead != 0 && s.Params.nMultiReadCount > 0 ? s.Params.nMultiReadCount
                                                                             : kDefaultRetries;
  *plBufferSize = r->BufferSectors * CR_SECTOR_BYTES;
  if (dwStartSector < dwEndSector) {
    r->Cdda = cdio_cddap_identify_cdio(d->Cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (r->Cdda == nullptr) return CR_ERR_NO_MEDIA;
    cdio_cddap_verbose_set(r->Cdda, CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
    if (cdio_cddap_open(r->Cdda) != 0) return CR_ERR_NO_MEDIA;
    if (d->Image) r->Cdda->bigendianp = ImageByteOrder(*r, dwStartSector, dwEndSector);
    const int mode = ParanoiaModeFor(s.Params);
    if (mode != PARANOIA_MODE_DISABLE) {
      r->Paranoia = cdio_paranoia_init(r->Cdda);
      if (r->Paranoia == nullptr) return CR_ERR_NO_MEDIA;
      cdio_paranoia_modeset(r->Paranoia, mode);
      // Paranoia reads ahead of the sector it returns: it must not reach past
      // the lead-out, where reads fail for sectors that do not exist.
      const int32_t leadout = d->Toc.back().dwStartSector;
      cdio_paranoia_set_range(r->Paranoia, dwStartSector, std::max(dwStartSector, std::min(dwEndSector, leadout)) - 1);
      cdio_paranoia_seek(r->Paranoia, dwStartSector, SEEK_SET);
    }
    if (s.Params.bLockDuringRip != 0 && !d->Image)
      r->TrayLocked = mmc_prevent_allow_medium_removal(d->Cdio, false, true, 0) == DRIVER_OP_SUCCESS;
  }
  s.Stats = TRipStats{};
  s.Stats.CurrentSector = dwStartSector;
  s.Ripper = std::move(r);
  return CR_OK;
}

CR_ERR CR_CloseRipper(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  if (!s.Ripper) return CR_ERR_RIPPER_CLOSED;
  s.Ripper.reset();
  return CR_OK;
}

CR_ERR CR_RipChunk(unsigned char* pbtStream, int32_t* pNumBytesRead, int32_t* pbAbort) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  Silence();
  if (pNumBytesRead == nullptr) return CR_ERR_INVALID_PARAMETER;
  *pNumBytesRead = 0;
  if (!s.Ripper) return CR_ERR_RIPPER_CLOSED;
  TRipper& r = *s.Ripper;
  if (r.Failure != CR_OK) return r.Failure;
  if (pbAbort != nullptr && *pbAbort != 0) return CR_ERR_ABORTED;
  const int32_t count = std::min(r.BufferSectors, r.End - r.Next);
  if (count <= 0) return CR_OK;
  if (pbtStream == nullptr) return CR_ERR_INVALID_PARAMETER;

  // Sectors past the lead-out do not exist, whatever an image file holds.
  const int32_t leadout = r.Drive->Toc.back().dwStartSector;
  const int32_t readable = std::clamp(leadout - r.Next, 0, count);
  int32_t done = 0;
  CR_ERR failure = CR_OK;
  if (r.Paranoia == nullptr) {
    done = ReadPlain(r, pbtStream, r.Next, readable);
    if (done < count) failure = CR_ERR_READ;
  } else {
    for (; done < readable; ++done) {
      t_events = TParanoiaEvents{};
      const int16_t* sector = cdio_paranoia_read_limited(r.Paranoia, ParanoiaCallback, r.Retries);
      if (t_events.Corrected || t_events.ReadError) {
        ++s.Stats.JitterErrors;
        s.Stats.LastJitterSector = r.Next + done;
        s.Stats.JitterPercent = static_cast<int>(static_cast<int64_t>(r.Next + done - r.First) * 100 /
                                                 std::max<int32_t>(1, r.End - r.First));
      }
      if (sector == nullptr || t_events.Skipped) {
        // Paranoia gives up at the first sector of a block it could not read
        // or verify; a sector that cannot be read at all may lie further on.
        const int32_t unreadable = FirstUnreadable(r, r.Next + done, r.Next + count);
        if (unreadable >= 0) {
          done = unreadable - r.Next;
          failure = CR_ERR_READ;
        } else {
          failure = CR_ERR_UNVERIFIED;
        }
        break;
      }
      std::memcpy(pbtStream + static_cast<std::size_t>(done) * CR_SECTOR_BYTES, sector, CR_SECTOR_BYTES);
    }
    if (failure == CR_OK && done < count) failure = CR_ERR_READ;
  }
  *pNumBytesRead = done * CR_SECTOR_BYTES;
  s.Stats.Peak = PeakOf(pbtStream, static_cast<std::size_t>(done) * CR_SECTOR_BYTES);
  r.Next += done;
  s.Stats.CurrentSector = r.Next;
  s.Stats.Percent =
      static_cast<int>(static_cast<int64_t>(r.Next - r.First) * 100 / std::max<int32_t>(1, r.End - r.First));
  if (failure != CR_OK) {
    r.Failure = failure;
    r.FailedSector = r.Next;
    char text[96];
    std::snprintf(text, sizeof text, "%s at sector %d", failure == CR_ERR_READ ? "read error" : "unverified sector",
                  static_cast<int>(r.Next));
    Remember(text);
  }
  return failure;
}

int CR_GetPercentCompleted(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Stats.Percent;
}

int32_t CR_GetCurrentRipSector(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Stats.CurrentSector;
}

int CR_GetNumberOfJitterErrors(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Stats.JitterErrors;
}

int32_t CR_GetLastJitterErrorPosition(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Stats.LastJitterSector;
}

int CR_GetJitterPosition(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Stats.JitterPercent;
}

int CR_GetPeakValue(void) {
  TState& s = State();
  std::lock_guard lock(s.Lock);
  return s.Stats.Peak;
}

void CR_NormalizeChunk(int16_t* pbsStream, int32_t nSamples, double dScale) {
  if (pbsStream == nullptr || nSamples <= 0 || !std::isfinite(dScale)) return;
  for (int32_t i = 0; i < nSamples; ++i) {
    const double v = std::round(pbsStream[i] * dScale);
    pbsStream[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
}

CR_ERR CR_ScanForC2Errors(int32_t, int32_t, int32_t* pdwErrors, int32_t* pdwErrorSectors) {
  if (pdwErrors != nullptr) *pdwErrors = 0;
  if (pdwErrorSectors != nullptr) *pdwErrorSectors = 0;
  return CR_ERR_NOT_SUPPORTED;
}

// ---- analogue playback ------------------------------------------------------------

int CR_IsAudioPlaying(void) { return 0; }
CR_ERR CR_PlayTrack(int) { return CR_ERR_NOT_SUPPORTED; }
CR_ERR CR_StopPlayTrack(void) { return CR_ERR_NOT_SUPPORTED; }
CR_ERR CR_PauseCD(int) { return CR_ERR_NOT_SUPPORTED; }
CR_ERR CR_GetCDStatusInfo(int32_t* pnStatus) {
  if (pnStatus != nullptr) *pnStatus = 0;
  return CR_ERR_NOT_SUPPORTED;
}
CR_ERR CR_GetSubChannelTrackInfo(int32_t* pnReadIndex, int32_t* pnReadTrack, int32_t* pdwReadPos) {
  for (int32_t* p : {pnReadIndex, pnReadTrack, pdwReadPos})
    if (p != nullptr) *p = 0;
  return CR_ERR_NOT_SUPPORTED;
}
CR_ERR CR_GetPlayPosition(int32_t* pdwRelPos, int32_t* pdwAbsPos) {
  for (int32_t* p : {pdwRelPos, pdwAbsPos})
    if (p != nullptr) *p = 0;
  return CR_ERR_NOT_SUPPORTED;
}
CR_ERR CR_SetPlayPosition(int32_t) { return CR_ERR_NOT_SUPPORTED; }
CR_ERR CR_PlaySection(int32_t, int32_t) { return CR_ERR_NOT_SUPPORTED; }

CR_ERR CR_GetLastMessage(char* pszMessage, int nSize) {
  if (pszMessage == nullptr || nSize <= 0) return CR_ERR_INVALID_PARAMETER;
  std::lock_guard lock(g_messageLock);
  CopyText(g_lastMessage, pszMessage, nSize);
  return CR_OK;
}

}  // extern "C"
