#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream a source can read from or a sink can write to. Read and Write
// return the bytes moved (0 at the end or on failure); the Buffer variants
// raise EAuException unless every byte was moved.
class TStream {
 public:
  virtual ~TStream() = default;

  virtual std::size_t Read(void* Buffer, std::size_t Count) = 0;
  virtual std::size_t Write(const void* Buffer, std::size_t Count) = 0;
  // Returns the new position, or -1 when the stream cannot move there.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t Size();
  // Sets the end of the stream (truncates or extends).
  virtual void SetSize(int64_t NewSize) = 0;
  // Ends the use of the stream. A stream over a file closes it here and
  // raises EAuException when the system reports an error only at the close
  // (write-back on NFS, quotas); a written file is finished only once this
  // returned. Later calls do nothing.
  virtual void Close() {}

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, TSeekOrigin::soBeginning); }

  // Raise EAuException with the system's error text of the failed call, or
  // "Stream read error" / "Stream write error" when the stream was short.
  void ReadBuffer(void* Buffer, std::size_t Count);
  void WriteBuffer(const void* Buffer, std::size_t Count);
  // Reads up to Count bytes; fewer only at the end of the data. A failed read
  // raises EAuException with the system's error text, so that an I/O error
  // part-way through never passes for the end of the data.
  std::size_t ReadUpTo(void* Buffer, std::size_t Count);

  // The system's text for the error of the last Read or Write, empty when it
  // did not fail.
  const std::string& LastError() const { return FLastError; }

 protected:
  std::string FLastError;
};
