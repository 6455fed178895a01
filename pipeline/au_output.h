#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "pipeline/au_input.h"
#include "pipeline/au_stream.h"
#include "pipeline/au_thread.h"
#include "pipeline/component.h"
#include "pipeline/pcm_digest.h"
#include "platform/messages.h"

enum class TFileOutputMode { foRewrite, foAppend };

// A sink: pulls its Input on its own worker thread and writes the result.
// Every public call is made on the main thread; the events arrive there too.
//
// A concrete sink calls DestroyWorker() first thing in its destructor: the
// worker may be inside the sink's DoOutput, and must be stopped before the
// sink's own members go.
class TAuOutput : public TComponent {
 public:
  explicit TAuOutput(TComponent* AOwner = nullptr);
  // Stops synchronously, ends the worker, releases the dispatcher.
  ~TAuOutput() override;

  // Stop(false) and end the worker thread; later calls do nothing.
  void DestroyWorker();

  // If Busy: Stop(false), assign, Run; else just assign.
  virtual void SetInput(TAuInput* Value);
  TAuInput* Input() const { return FInput; }

 protected:
  // One worker step: pull a block, write it; true to be called again, false
  // when finished. With Abort it returns false without writing. Returns true
  // at once while Active is false.
  virtual bool DoOutput(bool Abort) = 0;
  // Finish the target: trailers, close, Flush of Input.
  virtual void Done() = 0;
  // Open the target, Init of Input, headers.
  virtual void Prepare() = 0;
  // Worker thread, before Prepare: what a run needs before its target is
  // opened.
  virtual void BeginRun() {}

 public:
  // Starts a conversion and returns at once.
  void Run();
  // Async: returns at once, OnDone follows. Otherwise returns when the run is
  // over (Done called, not Busy), and no further event of that run arrives.
  void Stop(bool Async);
  void Pause();
  void Resume();
  // Input Position x 100 / Size, rounded; -1 when Size is unknown.
  int Progress();
  void SetThreadPriority(int Priority);
  // Run by the worker after its block loop.
  void WhenDone();

  // The worker is blocked in a pause.
  bool Paused() const;
  // A pause was asked for and is taken at the next block (the row may still
  // be preparing).
  bool PausePending() const;

  // Worker thread: records the run's failure (the first one wins) and posts
  // OnThreadException. Every failure of a run goes through here: the
  // worker's for what Prepare, DoOutput and Done raise, a sink's own for
  // what it meets while it goes on finishing its target.
  void ReportFailure(const std::string& Message);

  // The run whose events may still reach the handlers: set by Run, cleared by
  // Stop(false). An event of any other run is dropped on the main thread, at
  // the moment it would have been handled.
  uint64_t LiveRun() const { return FLiveRun; }

  // What the last run took from its input: the format, the bytes and their
  // hash, and whether the input was exhausted. Read on the main thread once
  // the run is over.
  struct TInputRecord {
    int Channels = 0;
    int BitsPerSample = 0;
    int SampleRate = 0;
    TPcmDigest Digest;
    bool Ended = false;
  };
  const TInputRecord& InputRecord() const { return FInputRecord; }

  std::atomic<bool> StopRequested{false};
  // The last run ended because of a Stop, before its input was exhausted:
  // its target is incomplete even when no error was reported.
  std::atomic<bool> LastRunStopped{false};
  std::string ExceptionMessage;
  std::atomic<bool> Active{false};
  std::atomic<int> LastProgress{0};
  TOutputDoneEvent OnDone;
  TOutputProgressEvent OnProgress;
  std::atomic<bool> Busy{false};
  TThreadExceptionEvent OnThreadException;
  std::mutex OutputLock;
  // The worker; lives as long as the sink.
  std::unique_ptr<TAuThread> Thread;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Worker thread: fills Dest from Input (FillBuffer) and returns the count;
  // when the input is exhausted InputEnded is set for the rest of the run.
  uint32_t ReadInput(void* Dest, uint32_t Bytes);
  bool InputEnded() const { return FInputEnded; }

  TAuInput* FInput = nullptr;
  TInputRecord FInputRecord;

 private:
  friend class TAuThread;
  bool FWorkerDestroyed = false;
  // Cleared by Run, before the worker takes the run.
  bool FInputEnded = false;
  // Main thread only.
  uint64_t FRunCounter = 0;
  std::atomic<uint64_t> FLiveRun{0};
};

// A sink that writes a stream it opens in Prepare.
class TAuStreamedOutput : public TAuOutput {
 public:
  explicit TAuStreamedOutput(TComponent* AOwner = nullptr) : TAuOutput(AOwner) {}

  std::unique_ptr<TStream> Stream;

 protected:
  // Closes and frees Stream (if any). A write-back error that only the close
  // reports means the file is not what was written: it is the run's failure.
  void CloseStream();
};

// A file sink. It owns the protocol of a run; a format supplies its steps:
//   Prepare()     open the target (Stream, or a library's file by name),
//                 Init of Input, headers; raises to refuse the run
//   EncodeStep()  read a block with ReadInput, encode and write it; false
//                 when there is nothing more (it is not called again once
//                 InputEnded is set, nor after a stop)
//   Finish()      trailers and sizes into the target; may raise
//   AfterClose()  steps on the closed file (tags written by name); may raise
// Done runs Finish, closes Stream, runs AfterClose and flushes Input; a
// failure of one step is reported (the first wins) and the next steps still
// run, so that the file is always closed and the chain always flushed.
//
// A run writes TargetFileName(), a hidden temporary name beside FileName,
// which every step (a library opening the file by name too) must use. Only
// a finished run's file, synced to the disk, is moved to FileName; a failed
// run's file is removed; a stopped run's partial file is kept under a name
// that replaces nothing. So FileName never holds half a file, and whatever
// it held before stays until the new output is complete. A FileName that is
// something other than a regular file (a device such as /dev/null) and a
// file appended to are written in place.
class TAuFileOut : public TAuStreamedOutput {
 public:
  explicit TAuFileOut(TComponent* AOwner = nullptr) : TAuStreamedOutput(AOwner) {}

  // The base keeps foRewrite whatever the value; sinks that can append
  // override it.
  virtual void SetFileMode(TFileOutputMode Value);
  TFileOutputMode FileMode() const { return FFileMode; }

  void SetFileName(const std::string& Value);
  const std::string& FileName() const { return FFileName; }
  const std::filesystem::path& WideFileName() const { return FWideFileName; }

  // Sharing bits of the stream mode (accepted, without effect on Linux).
  uint16_t ShareMode = 0;

  // A finished output replaces a file under FileName. With false it takes
  // the first free name beside it instead ("song (2).mp3"), should a file
  // have appeared there while it was written.
  bool ReplaceExisting = true;
  // Where the last run's output went (FileName or a free name beside it);
  // empty when it left no file. Set before OnDone is posted.
  const std::filesystem::path& OutputFileName() const { return FOutputFileName; }

  // Test hook: from this many bytes of input on (>= 0), the run ends as if
  // its input were exhausted, without an error: a sink that stops early.
  int64_t EndAfterInputBytes = -1;

 protected:
  virtual bool EncodeStep() = 0;
  virtual void Finish() {}
  virtual void AfterClose() {}

  // The file this run writes (see above).
  const std::filesystem::path& TargetFileName() const { return FTargetFileName; }

  void BeginRun() final;
  bool DoOutput(bool Abort) final;
  void Done() final;

  TFileOutputMode FFileMode = TFileOutputMode::foRewrite;

 private:
  // After AfterClose: moves, keeps or removes the target.
  void CommitTarget();

  std::string FFileName;
  std::filesystem::path FWideFileName;
  std::filesystem::path FTargetFileName;
  std::filesystem::path FOutputFileName;
  // The target is a temporary name of this run.
  bool FTemporaryTarget = false;
};
