#include "tests/support/held_sink.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "pipeline/au_exception.h"
#include "pipeline/au_thread.h"

namespace qmtest {

void TMemorySink::Prepare() {
  ++PrepareCalls;
  errno = 0;
  NiceInPrepare = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
  HoldPrepare.Pass([this] { return Thread->StopFlag.load(); });
  if (FailPrepare) throw EAuException("prepare failed on purpose");
  Data.clear();
  Input()->Init();
}

bool TMemorySink::DoOutput(bool Abort) {
  if (Abort) {
    ++AbortCalls;
    return false;
  }
  if (!Active) return true;
  Hold.Pass([this] { return Thread->StopFlag || Thread->PauseRequested; });
  void* buffer = nullptr;
  uint32_t bytes = BlockBytes;
  Input()->GetData(buffer, bytes);
  if (bytes == 0) return false;
  const auto* p = static_cast<const uint8_t*>(buffer);
  Data.insert(Data.end(), p, p + bytes);
  ++BlocksWritten;
  return true;
}

void TMemorySink::Done() {
  ++DoneCalls;
  Input()->Flush();
  if (FailDone) throw EAuException("closing failed on purpose");
}

}  // namespace qmtest
