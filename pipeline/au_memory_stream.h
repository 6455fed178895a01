#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/au_stream.h"

// A growable stream in memory: for sources fed from a buffer (fuzzing,
// tests) and sinks that collect their output.
class TAuMemoryStream : public TStream {
 public:
  TAuMemoryStream() = default;
  explicit TAuMemoryStream(std::vector<uint8_t> Data) : FData(std::move(Data)) {}
  TAuMemoryStream(const void* Data, std::size_t Count);

  std::size_t Read(void* Buffer, std::size_t Count) override;
  std::size_t Write(const void* Buffer, std::size_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t NewSize) override;

  const std::vector<uint8_t>& Data() const { return FData; }

 private:
  std::vector<uint8_t> FData;
  std::size_t FPosition = 0;
};
