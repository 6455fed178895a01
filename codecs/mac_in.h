// TMACIn: the file source that decodes a Monkey's Audio (APE) file through
// the Monkey's Audio library, with the file's tag in its APEv2 container.
#pragma once

#include <cstdint>
#include <memory>

#include "codecs/mac_library.h"
#include "tags/au_tagged_file.h"

class TMACIn : public TAuTaggedFileIn {
 public:
  static constexpr int DecodeBufferSize = 8192;

  explicit TMACIn(TComponent* AOwner = nullptr);
  ~TMACIn() override;

  bool SeekInternal(int64_t& SampleNum) override;
  int GetTotalTime() override;

  // Opens the file first, so the tag read from it is there.
  TAPEv2Tags& APEv2Tags();

 protected:
  bool OpenHeader() override;
  void CloseHeader() override;
  // The library opens the file by name.
  bool ReadsStream() const override { return false; }
  void InitInternal() override;
  void DecodeBlock() override;

 private:
  std::unique_ptr<TAPEDecompress> Decompressor;
  // The library has delivered its last block. Kept apart from EndOfStream,
  // which the base sets only once the buffered blocks have gone out too.
  bool DecoderDrained = false;
};
