// Checking an output against what its sink was given: TDecodeCheck decodes
// the output (through the reader of its format) to the end and records it
// as a sink records its input; CompareDecoded tells whether the two agree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/au_output.h"

class TDecodeCheck;

// How far a format's decoded output may differ from what was encoded, in
// frames at the rate that was written.
struct TDecodeTolerance {
  // The decoded samples are the very ones written (same format, same hash),
  // followed by at most Longer frames of silence (a writer that fills up to
  // the length its input announced).
  bool Exact = false;
  // The decoded length may fall short of the written one by this much (an
  // encoder's delay dropped by the decoder) or exceed it by that (a delay
  // kept, the padding of a last block or frame).
  int64_t Shorter = 0;
  int64_t Longer = 0;
};

// Why Decoded does not hold what Written took in; empty when it does. Both
// are records of whole runs: Written's input must have been exhausted.
std::string CompareDecoded(const TAuOutput::TInputRecord& Written, const TDecodeCheck& Decoded,
                           const TDecodeTolerance& Tolerance);

// A sink that only reads: its Input (a source on the output file) is decoded
// to the end, and InputRecord() holds what came out. It reports progress and
// OnDone like any sink; a decode error is its ExceptionMessage.
class TDecodeCheck : public TAuOutput {
 public:
  explicit TDecodeCheck(TComponent* AOwner = nullptr) : TAuOutput(AOwner) {}
  ~TDecodeCheck() override;

  // Set before Run: the hash of the first this many decoded bytes is
  // HeadDigest (-1: of all of them); the bytes after them are only looked
  // at for whether they are silence.
  int64_t HeadBytes = -1;
  const TPcmDigest& HeadDigest() const { return FHead; }
  bool TailIsSilent() const { return FTailSilent; }

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  std::vector<uint8_t> Block;
  TPcmDigest FHead;
  bool FTailSilent = true;
};
