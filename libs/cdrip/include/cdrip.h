/* The CD reading library: the C interface of libcdrip.so.
 *
 * A drive is a CD device (/dev/sr0, ... as the system lists them) or a disc
 * image (a .cue sheet with its .bin, a cdrdao .toc, a Nero .nrg) added with
 * CR_AddCDROM. Drives are numbered from 0; one of them is active and every
 * operation without a drive argument works on it. One ripper reads a range of
 * sectors of the active drive as 16-bit stereo little-endian PCM, 2352 bytes
 * per sector, either with plain reads or through paranoia's verification.
 *
 * Every function returning CR_ERR returns CR_OK (0) on success or one of the
 * CR_ERR_* codes. The library prints nothing: its own messages and those of
 * the CD libraries under it are kept, the last one readable with
 * CR_GetLastMessage. Every function is safe to call from any thread; calls are
 * serialised inside. */
#ifndef CDRIP_H
#define CDRIP_H

#include <stdint.h>

#if defined(__GNUC__)
#define CDRIP_API __attribute__((visibility("default")))
#else
#define CDRIP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int CR_ERR;

#define CR_OK 0
#define CR_ERR_NOT_SUPPORTED 1     /* the drive or this library cannot do it */
#define CR_ERR_NOT_INITIALISED 2   /* CR_Init was not called */
#define CR_ERR_NO_DRIVE 3          /* no drive with that index, or it cannot be opened */
#define CR_ERR_NO_MEDIA 4          /* no disc in the drive */
#define CR_ERR_NO_TOC 5            /* the table of contents cannot be read */
#define CR_ERR_INVALID_PARAMETER 6
#define CR_ERR_RANGE 7             /* sectors outside the audio of the disc */
#define CR_ERR_DATA_TRACK 8        /* the range covers sectors of a data track */
#define CR_ERR_RIPPER_OPEN 9       /* a ripper is already open */
#define CR_ERR_RIPPER_CLOSED 10    /* no ripper is open */
#define CR_ERR_READ 11             /* a sector could not be read */
#define CR_ERR_UNVERIFIED 12       /* paranoia gave up verifying a sector */
#define CR_ERR_BUFFER_TOO_SMALL 13
#define CR_ERR_ABORTED 14

/* The version of this interface, times 100. */
#define CR_VERSION 100

#define CR_SECTOR_BYTES 2352
#define CR_SECTORS_PER_SECOND 75

/* CR_TOCENTRY.btFlag: the track's control bits as the disc gives them. */
#define CR_FLAG_PREEMPHASIS 0x01
#define CR_FLAG_COPY_PERMITTED 0x02
#define CR_FLAG_DATA 0x04
#define CR_FLAG_FOUR_CHANNEL 0x08

/* CR_GetTocEntry(CR_GetNumTocEntries()) is the lead-out. */
#define CR_LEADOUT_TRACK 0xAA

/* CR_IsMediaLoaded status values. */
#define CR_MEDIA_LOADED 0
#define CR_MEDIA_NOT_LOADED 1

/* CR_CDROMPARAMS.nCDROMType */
#define CR_TYPE_DEVICE 0
#define CR_TYPE_IMAGE 1

#pragma pack(push, 1)
/* One entry of the table of contents: the first sector of a track (of the
 * lead-out for the last entry), its control bits, its number. */
typedef struct {
  int32_t dwStartSector;
  uint8_t btFlag;
  uint8_t btTrackNumber;
} CR_TOCENTRY;
#pragma pack(pop)

/* How the ripper reads. One record belongs to the library (CR_GetStructPointer);
 * CR_GetCDROMParameters fills a record from the library's settings and the
 * active drive's description, the setters change a record, and
 * CR_SetCDROMParameters makes a record's settings the library's. The name and
 * ID fields are descriptive only: CR_SetCDROMParameters ignores them. */
typedef struct {
  char lpszDriveName[256];   /* device path or image file */
  char lpszDriveID[128];     /* vendor, model and revision */
  int32_t nCDROMType;        /* CR_TYPE_DEVICE or CR_TYPE_IMAGE */
  int32_t bJitterCorrection; /* non-zero: paranoia's overlap checking */
  int32_t bParanoid;         /* non-zero: paranoia's full verification */
  int32_t nParanoiaMode;     /* paranoia mode bits; 0: chosen by the two flags */
  int32_t bEnableMultiRead;  /* non-zero: nMultiReadCount is paranoia's retry count */
  int32_t nMultiReadCount;
  int32_t bLockDuringRip;    /* lock the tray of a device while the ripper is open */
  int32_t nReadSectors;      /* sectors per plain read */
  int32_t nOverlapSectors;
  int32_t nCompareSectors;
  int32_t nSpeed;            /* 0: the drive's own */
  int32_t nTransportLayer;
} CR_CDROMPARAMS;

/* Library lifetime. CR_Init lists the CD devices and makes drive 0 active;
 * CR_DeInit closes every drive and forgets the images added. The argument of
 * CR_Init is accepted for compatibility: the library keeps no settings file. */
CDRIP_API CR_ERR CR_Init(int bSaveSettings);
CDRIP_API CR_ERR CR_DeInit(void);
CDRIP_API int CR_GetCDRipVersion(void);

/* Drives. */
CDRIP_API int CR_GetNumCDROM(void);
CDRIP_API int CR_GetActiveCDROM(void);
CDRIP_API CR_ERR CR_SetActiveCDROM(int nActiveDrive);
/* Adds a device or an image as a drive and returns its index (the index it
 * already has when it was added or found before), or -1 when it cannot be
 * opened. A .bin is opened through the .cue of the same name beside it. */
CDRIP_API int CR_AddCDROM(const char* pszName);
/* Drive nDrive's device path or image file, NUL-terminated, cut to nSize. */
CDRIP_API CR_ERR CR_GetDriveName(int nDrive, char* pszName, int nSize);
CDRIP_API CR_ERR CR_SelectCDROMType(int nType);
CDRIP_API int CR_GetCDROMType(void);
CDRIP_API CR_ERR CR_GetDriveID(char* pszID, int nSize);
CDRIP_API CR_ERR CR_SetTransportLayer(int nTransportLayer);
CDRIP_API int CR_GetTransportLayer(void);

/* Parameters. */
CDRIP_API CR_CDROMPARAMS* CR_GetStructPointer(void);
CDRIP_API CR_ERR CR_GetCDROMParameters(CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetCDROMParameters(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_LoadSettings(void);
CDRIP_API CR_ERR CR_SaveSettings(void);
CDRIP_API int CR_GetJitterCorrection(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetJitterCorrection(CR_CDROMPARAMS* pParam, int32_t bValue);
CDRIP_API int CR_GetReadSectors(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetReadSectors(CR_CDROMPARAMS* pParam, int32_t nValue);
CDRIP_API int CR_GetOverlapSectors(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetOverlapSectors(CR_CDROMPARAMS* pParam, int32_t nValue);
CDRIP_API int CR_GetCompareSectors(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetCompareSectors(CR_CDROMPARAMS* pParam, int32_t nValue);
CDRIP_API int CR_GetEnableMultiRead(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetEnableMultiRead(CR_CDROMPARAMS* pParam, int32_t bValue);
CDRIP_API int CR_GetMultiReadCount(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetMultiReadCount(CR_CDROMPARAMS* pParam, int32_t nValue);
CDRIP_API int CR_IsParanoidMode(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetParanoidMode(CR_CDROMPARAMS* pParam, int32_t bValue);
CDRIP_API int CR_GetParanoiaMode(const CR_CDROMPARAMS* pParam);
CDRIP_API CR_ERR CR_SetParanoiaMode(CR_CDROMPARAMS* pParam, int32_t nValue);
CDRIP_API CR_ERR CR_LockCDTrayWhileRipping(CR_CDROMPARAMS* pParam, int32_t bValue);

/* Table of contents of the active drive. CR_ReadToc reads it again from the
 * disc; entries 0 .. CR_GetNumTocEntries() are then readable, the last one
 * being the lead-out. An index outside the table gives an all-zero entry. */
CDRIP_API CR_ERR CR_ReadToc(void);
CDRIP_API int CR_GetNumTocEntries(void);
CDRIP_API CR_TOCENTRY CR_GetTocEntry(int nTocEntry);
/* CD-Text of the table last read, as records of one track byte (0 = the
 * disc), one field byte (CR_CDTEXT_*) and a NUL-terminated UTF-8 value, back
 * to back. *pnTextSize gets the bytes the records need; with a buffer too
 * small for them the result is CR_ERR_BUFFER_TOO_SMALL and nothing is
 * written. A disc without CD-Text gives 0 bytes. */
#define CR_CDTEXT_TITLE 0
#define CR_CDTEXT_PERFORMER 1
#define CR_CDTEXT_SONGWRITER 2
#define CR_CDTEXT_COMPOSER 3
#define CR_CDTEXT_MESSAGE 4
#define CR_CDTEXT_ARRANGER 5
#define CR_CDTEXT_ISRC 6
#define CR_CDTEXT_UPC_EAN 7
#define CR_CDTEXT_GENRE 8
CDRIP_API CR_ERR CR_ReadCDText(unsigned char* pbtBuffer, int nBufferSize, int* pnTextSize);

/* Drive state. */
CDRIP_API int CR_IsUnitReady(void);
CDRIP_API CR_ERR CR_IsMediaLoaded(int* pnStatus);
/* Opens (bEject non-zero) or closes the tray of a device; a disc image has no
 * tray: CR_ERR_NOT_SUPPORTED, and the image stays as it is. */
CDRIP_API CR_ERR CR_EjectCD(int bEject);
CDRIP_API CR_ERR CR_LockCD(int bLock);

/* Ripping. CR_OpenRipper opens the range [first, last) of the active drive:
 * the last sector is not read, so a track is read whole from its start to the
 * start of the next entry. The range must lie in audio tracks of the disc.
 * *plBufferSize is the most CR_RipChunk delivers at a time; it is rounded
 * down to whole sectors (at least one). */
CDRIP_API CR_ERR CR_OpenRipper(int32_t* plBufferSize, int32_t dwStartSector, int32_t dwEndSector);
CDRIP_API CR_ERR CR_CloseRipper(void);
/* Reads the next sectors of the range into pbtStream; *pNumBytesRead gets the
 * bytes read, 0 at the end of the range. On CR_ERR_READ or CR_ERR_UNVERIFIED
 * it holds the bytes of the good sectors before the failing one, and
 * CR_GetCurrentRipSector names that sector. A non-zero *pbAbort stops before
 * reading (CR_ERR_ABORTED). */
CDRIP_API CR_ERR CR_RipChunk(unsigned char* pbtStream, int32_t* pNumBytesRead, int32_t* pbAbort);
CDRIP_API int CR_GetPercentCompleted(void);
CDRIP_API int32_t CR_GetCurrentRipSector(void);
/* Sectors paranoia had to correct or read again in this ripper's run. */
CDRIP_API int CR_GetNumberOfJitterErrors(void);
CDRIP_API int32_t CR_GetLastJitterErrorPosition(void);
/* Where the last correction happened, in percent of the range. */
CDRIP_API int CR_GetJitterPosition(void);
/* The largest magnitude of a sample in the last chunk read (0 .. 32768). */
CDRIP_API int CR_GetPeakValue(void);
/* Multiplies nSamples 16-bit samples by dScale, clipping at full scale. */
CDRIP_API void CR_NormalizeChunk(int16_t* pbsStream, int32_t nSamples, double dScale);
CDRIP_API CR_ERR CR_ScanForC2Errors(int32_t dwStartSector, int32_t dwNumSectors, int32_t* pdwErrors,
                                    int32_t* pdwErrorSectors);

/* Analogue playback through the drive: not supported (the program plays CD
 * audio digitally from ripped sectors). */
CDRIP_API int CR_IsAudioPlaying(void);
CDRIP_API CR_ERR CR_PlayTrack(int nTrack);
CDRIP_API CR_ERR CR_StopPlayTrack(void);
CDRIP_API CR_ERR CR_PauseCD(int bPause);
CDRIP_API CR_ERR CR_GetCDStatusInfo(int32_t* pnStatus);
CDRIP_API CR_ERR CR_GetSubChannelTrackInfo(int32_t* pnReadIndex, int32_t* pnReadTrack, int32_t* pdwReadPos);
CDRIP_API CR_ERR CR_GetPlayPosition(int32_t* pdwRelPos, int32_t* pdwAbsPos);
CDRIP_API CR_ERR CR_SetPlayPosition(int32_t dwRelPos);
CDRIP_API CR_ERR CR_PlaySection(int32_t lStartSector, int32_t lEndSector);

/* The last message the library or the CD libraries under it gave, cut to nSize. */
CDRIP_API CR_ERR CR_GetLastMessage(char* pszMessage, int nSize);

#ifdef __cplusplus
}
#endif

#endif
