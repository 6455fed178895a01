// TCascadeFilter: the resampler's low-pass, four identical 4-pole sections in
// cascade, run in place over interleaved float frames of 1 to 8 channels.
//
// Per channel and section, for each new input x[n]:
//   y[n] = round(round(a4 x[n-4] + a3 x[n-3] + a2 x[n-2] + a1 x[n-1] + a0 x[n])
//                + (b3 y[n-4] + b2 y[n-3] + b1 y[n-2]) + b0 y[n-1])
// where round() goes to single precision. A product of two singles is exact
// in double, so the sums are formed in double; only a sum that lands within
// a double rounding of a single's rounding boundary can differ by one step of
// the last bit from a sum formed in extended precision. The terms that wait
// on the newest values (x[n], the rounded input sum, y[n-1]) come last, so
// each frame's result follows them after few operations.
//
// The four sections and a pair of channels run side by side (a wavefront:
// section s works on frame n - s while section 0 takes frame n), so the
// recursions fill the vector units instead of waiting on one another. Every
// kernel computes the same values; the widest one the processor has is used.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

enum class TFilterKernel { Scalar, Sse2, Avx2, Avx512 };

class TCascadeFilter {
 public:
  static constexpr int Sections = 4;
  static constexpr int MaxChannels = 8;

  // The widest kernel this processor runs.
  static TFilterKernel BestKernel();
  static bool KernelAvailable(TFilterKernel Kernel);

  // Feed-forward a0..a4 and feedback b0..b3, as designed.
  void SetCoefficients(const std::array<float, 5>& A, const std::array<float, 4>& B);
  // Silence in every section; sized for blocks of MaxFrames frames (longer
  // ones run in pieces).
  void Reset(int Channels, std::size_t MaxFrames);
  // Releases the state and the scratch buffer.
  void Release();

  // Filters Frames interleaved frames in place, carrying the state on.
  void Run(float* Data, std::size_t Frames);

  TFilterKernel Kernel = BestKernel();

  // The history of one pair of channels: depth k (1..4 back) of every lane,
  // a lane being section × 2 + channel.
  struct alignas(64) TPairState {
    double X[4][8];
    double Y[4][8];
  };

 private:
  void RunPair(TPairState& State, float* Pair, std::size_t Frames);

  // a4, a3, a2, a1, a0 and b3, b2, b1, b0: the order the sums are formed in.
  std::array<double, 5> FeedForward{};
  std::array<double, 4> FeedBack{};
  int FChannels = 0;
  std::vector<TPairState> Pairs;
  // One pair of channels gathered from frames of another channel count.
  std::vector<float> Scratch;
};
