// TMACOut: the file sink that encodes PCM into a Monkey's Audio (APE) file
// through the Monkey's Audio library, and tags it with APEv2.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "codecs/mac_library.h"
#include "tags/au_tagged_file.h"

inline constexpr const char* kMsgMacFileNameNotAssigned = "File name is not assigned.";
inline constexpr const char* kMsgErrorStartingAPECompress = "Error starting APECompress.\r\n";
inline constexpr const char* kMsgAPECompressUnlockBufferError = "APECompress.UnlockBuffer Error: ";

class TMACOut : public TAuTaggedFileOut {
 public:
  static constexpr int BlockBufferSize = 65536;
  static constexpr int DefaultCompressionLevel = 2000;

  explicit TMACOut(TComponent* AOwner = nullptr);
  ~TMACOut() override;

  int CompressionLevel() const { return FCompressionLevel; }
  // 1000, 2000, 3000, 4000 or 5000; anything else stores 2000.
  void SetCompressionLevel(int Value);
  // Announced to the library; -1 = unknown.
  int MaxAudioBytes = -1;

  // Bytes handed to the compressor per step for a frame of FrameBytes.
  static int BlockLength(int FrameBytes) { return BlockBufferSize - BlockBufferSize % FrameBytes; }

 protected:
  // Starts the library's compressor on the file.
  void Prepare() override;
  // Hands one block of whole frames to the compressor.
  bool EncodeStep() override;
  // The compressor writes its tables and closes the file.
  void Finish() override;
  // Writes the tag into the finished file.
  void AfterClose() override;

 private:
  std::array<uint8_t, BlockBufferSize> Buffer{};
  std::unique_ptr<TAPECompress> Compressor;
  APE_WAVEFORMATEX WaveFormat{};
  // The compressor accepted the file; Active is the worker's flag and is
  // already cleared when Done runs.
  bool Started = false;
  int FCompressionLevel = DefaultCompressionLevel;
};
