#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Conversions between integer PCM (8-bit unsigned, 16/24/32-bit signed
// little-endian, 24-bit packed in 3 bytes) and 32-bit float, channel folding
// in float, the resampler's dot product and block copies. Converted audio
// depends on the scaling, clamping and rounding here bit for bit. Counts are
// values (not frames) unless a name says otherwise; nothing allocates.

// Integer to float: exact multiplications by 1/128 (then - 1), 1/32768,
// 1/8388608, 1/2147483648.
void ByteToSingle(const uint8_t* Src, float* Dest, std::size_t Count);
void SmallIntToSingle(const int16_t* Src, float* Dest, std::size_t Count);
void Int24ToSingle(const uint8_t* Src, float* Dest, std::size_t Count);
void Int32ToSingle(const int32_t* Src, float* Dest, std::size_t Count);

// Float to integer. The 16/24/32-bit routines first clamp the source in
// place (magnitude >= 1 becomes exactly +1 or -1, NaN becomes -1), then
// scale by 32767, 8388607 or 2147483647: 16 and 32 bits round to nearest
// with ties to even, 24 bits round down. The rounding mode is not touched.
void SingleToByte(const float* Src, uint8_t* Dest, std::size_t Count);
void SingleToSmallInt(float* Src, int16_t* Dest, std::size_t Count);
void SingleToInt24(float* Src, uint8_t* Dest, std::size_t Count);
void SingleToInt32(float* Src, int32_t* Dest, std::size_t Count);

// IEEE float WAV data to 32-bit integers in the same buffer (values are read
// from the float array and written at the same index of an int32 array laid
// over it). ByteCount / 8 (or / 4) values; a partial value is left alone.
void DoubleToInt32InPlace(void* Buffer, std::size_t ByteCount);
void SingleToInt32InPlace(void* Buffer, std::size_t ByteCount);

// out[i] := (in[2i] + in[2i+1]) / 2, in place, for FrameCount frames.
void StereoToMonoSingle(float* Buffer, std::size_t FrameCount);
// Each of ValueCount values written twice, in place, from the end backwards;
// the buffer must hold 2 x ValueCount values.
void MonoToStereoSingle(float* Buffer, std::size_t ValueCount);

// Accumulator += sum of A[i] x B[i], summed in extended precision and rounded
// to single once at the end. Count >= 1.
void DotProduct(const float* A, const float* B, float& Accumulator, std::size_t Count);

// Copies exactly Bytes bytes.
void FastCopy(void* Dest, const void* Src, std::size_t Bytes);

// The text before / after the first occurrence of Ch; empty if Ch does not
// occur.
std::string TextBefore(char Ch, std::string_view Text);
std::string TextAfter(char Ch, std::string_view Text);
