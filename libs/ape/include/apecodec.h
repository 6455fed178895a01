/* Monkey's Audio (APE) codec: the C interface of libapecodec.so.
 *
 * Compression writes files of version 3990 at levels 1000..5000 for 8-, 16-
 * and 24-bit PCM, mono or stereo; decompression reads versions 3950..3990.
 * File names are UTF-8 paths. Every function that returns int returns 0 on
 * success or one of the APE_ERROR_* codes. Handles are opaque pointers; a
 * null handle means none. */
#ifndef APECODEC_H
#define APECODEC_H

#include <stdint.h>

#if defined(__GNUC__)
#define APECODEC_API __attribute__((visibility("default")))
#else
#define APECODEC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define APE_ERROR_SUCCESS 0
#define APE_ERROR_IO_READ 1000
#define APE_ERROR_IO_WRITE 1001
#define APE_ERROR_INVALID_INPUT_FILE 1002
#define APE_ERROR_INVALID_OUTPUT_FILE 1003
#define APE_ERROR_INPUT_FILE_TOO_LARGE 1004
#define APE_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH 1005
#define APE_ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE 1006
#define APE_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT 1007
#define APE_ERROR_INPUT_FILE_TOO_SMALL 1008
#define APE_ERROR_INVALID_CHECKSUM 1009
#define APE_ERROR_DECOMPRESSING_FRAME 1010
#define APE_ERROR_INITIALIZING_UNMAC 1011
#define APE_ERROR_INVALID_FUNCTION_PARAMETER 1012
#define APE_ERROR_UNSUPPORTED_FILE_TYPE 1013
#define APE_ERROR_INSUFFICIENT_MEMORY 2000
#define APE_ERROR_BAD_PARAMETER 5000
#define APE_ERROR_APE_COMPRESS_TOO_MUCH_DATA 6000

/* Returned by GetID3Tag when the file carries neither an APEv2 nor an ID3v1 tag. */
#define APE_ERROR_NO_TAG (-1)

#define APE_COMPRESSION_LEVEL_FAST 1000
#define APE_COMPRESSION_LEVEL_NORMAL 2000
#define APE_COMPRESSION_LEVEL_HIGH 3000
#define APE_COMPRESSION_LEVEL_EXTRA_HIGH 4000
#define APE_COMPRESSION_LEVEL_INSANE 5000

/* Codes for c_APEDecompress_GetInfo (the two extra parameters are unused). */
#define APE_INFO_FILE_VERSION 1000
#define APE_INFO_COMPRESSION_LEVEL 1001
#define APE_INFO_FORMAT_FLAGS 1002
#define APE_INFO_SAMPLE_RATE 1003
#define APE_INFO_BITS_PER_SAMPLE 1004
#define APE_INFO_BYTES_PER_SAMPLE 1005
#define APE_INFO_CHANNELS 1006
#define APE_INFO_BLOCK_ALIGN 1007
#define APE_INFO_BLOCKS_PER_FRAME 1008
#define APE_INFO_FINAL_FRAME_BLOCKS 1009
#define APE_INFO_TOTAL_FRAMES 1010
#define APE_INFO_WAV_HEADER_BYTES 1011
#define APE_INFO_WAV_TERMINATING_BYTES 1012
#define APE_INFO_WAV_DATA_BYTES 1013
#define APE_INFO_WAV_TOTAL_BYTES 1014 /* PCM bytes of the whole file */
#define APE_INFO_APE_TOTAL_BYTES 1015
#define APE_INFO_TOTAL_BLOCKS 1016
#define APE_INFO_LENGTH_MS 1017
#define APE_INFO_AVERAGE_BITRATE 1018
#define APE_DECOMPRESS_CURRENT_BLOCK 2000
#define APE_DECOMPRESS_CURRENT_MS 2001
#define APE_DECOMPRESS_TOTAL_BLOCKS 2002
#define APE_DECOMPRESS_LENGTH_MS 2003

typedef struct APECompressState* APE_COMPRESS_HANDLE;
typedef struct APEDecompressState* APE_DECOMPRESS_HANDLE;

#pragma pack(push, 1)
/* The 18-byte wave format record (format tag 1 = PCM). */
typedef struct APE_WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} APE_WAVEFORMATEX;

/* The 128-byte ID3v1.1 block: "TAG", Latin-1 (Windows-1252) text padded with zeros. */
typedef struct APE_ID3_TAG {
    char Header[3];
    char Title[30];
    char Artist[30];
    char Album[30];
    char Year[4];
    char Comment[28];
    unsigned char Zero;
    unsigned char Track;
    unsigned char Genre;
} APE_ID3_TAG;
#pragma pack(pop)

/* Compression. Create, Start on a file, feed PCM (LockBuffer/UnlockBuffer or
 * AddData), Finish, Destroy. Kill abandons the output file (it is removed);
 * destroying a started compressor without Finish does the same. */
APECODEC_API APE_COMPRESS_HANDLE c_APECompress_Create(int* pErrorCode);
APECODEC_API void c_APECompress_Destroy(APE_COMPRESS_HANDLE hAPECompress);
/* nMaxAudioBytes < 0: no limit; otherwise adding more PCM bytes than that fails
 * with APE_ERROR_APE_COMPRESS_TOO_MUCH_DATA. pHeaderData, when given, is the
 * original WAV header to store verbatim. */
APECODEC_API int c_APECompress_Start(APE_COMPRESS_HANDLE hAPECompress, const char* pOutputFilename,
                                     const APE_WAVEFORMATEX* pwfeInput, int nMaxAudioBytes,
                                     int nCompressionLevel, const void* pHeaderData, int nHeaderBytes);
APECODEC_API int c_APECompress_AddData(APE_COMPRESS_HANDLE hAPECompress, unsigned char* pData, int nBytes);
APECODEC_API int c_APECompress_GetBufferBytesAvailable(APE_COMPRESS_HANDLE hAPECompress);
APECODEC_API unsigned char* c_APECompress_LockBuffer(APE_COMPRESS_HANDLE hAPECompress, int* pBytesAvailable);
APECODEC_API int c_APECompress_UnlockBuffer(APE_COMPRESS_HANDLE hAPECompress, int nBytesAdded, int bProcess);
APECODEC_API int c_APECompress_Finish(APE_COMPRESS_HANDLE hAPECompress, unsigned char* pTerminatingData,
                                      int nTerminatingBytes, int nWAVTerminatingBytes);
APECODEC_API int c_APECompress_Kill(APE_COMPRESS_HANDLE hAPECompress);

/* Decompression of the file at the UTF-8 path pFilename. */
APECODEC_API APE_DECOMPRESS_HANDLE c_APEDecompress_CreateW(const char* pFilename, int* pErrorCode);
APECODEC_API void c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE hAPEDecompress);
/* Delivers up to nBlocks blocks of interleaved little-endian PCM (8-bit unsigned). */
APECODEC_API int c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE hAPEDecompress, char* pBuffer, int nBlocks,
                                         int* pBlocksRetrieved);
APECODEC_API int c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE hAPEDecompress, int nBlockOffset);
APECODEC_API intptr_t c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE hAPEDecompress, int nField,
                                              intptr_t nParam1, intptr_t nParam2);

/* Helpers. */
APECODEC_API int FillWaveFormatEx(APE_WAVEFORMATEX* pWaveFormatEx, int nSampleRate, int nBitsPerSample,
                                  int nChannels);
/* The file's APEv2 tag (or, without one, its ID3v1 tag) in the ID3v1 layout. */
APECODEC_API int GetID3Tag(const char* pFilename, APE_ID3_TAG* pID3Tag);
/* Writes Artist, Album, Title, Comment, Genre, Year and Track (UTF-8) as an
 * APEv2 tag at the end of the file. bClearFirst drops the items of an existing
 * tag; otherwise they are kept. bUseOldID3 is accepted and ignored: no ID3v1
 * tag is ever written (readers then ignore the APEv2 tag before it). */
APECODEC_API int TagFileSimple(const char* pFilename, const char* pArtist, const char* pAlbum,
                               const char* pTitle, const char* pComment, const char* pGenre,
                               const char* pYear, const char* pTrack, int bClearFirst, int bUseOldID3);
/* Removes a trailing APEv2 and/or ID3v1 tag. */
APECODEC_API int RemoveTag(const char* pFilename);
APECODEC_API int GetVersionNumber(void);
/* The text of an APE_ERROR_* code (and of the library loading codes 3000 to
 * 3002, 4000 and 4001 its callers use), as a static string; NULL for a code
 * it does not know. */
APECODEC_API const char* c_APE_GetErrorText(int nErrorCode);

#ifdef __cplusplus
}
#endif

#endif
