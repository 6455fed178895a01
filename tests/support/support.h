// Everything of the shared test support at once, for test files that use
// most of it, with the pipeline's exception and main-thread invoker that
// such tests check and drive.
#pragma once

#include "pipeline/au_exception.h"
#include "pipeline/main_thread_invoker.h"
#include "tests/support/decoders.h"
#include "tests/support/files.h"
#include "tests/support/held_sink.h"
#include "tests/support/hold_gate.h"
#include "tests/support/main_thread_pump.h"
#include "tests/support/pipeline_parts.h"
#include "tests/support/process.h"
#include "tests/support/signal_measures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"
#include "tests/support/wav_writer.h"

namespace qmtest {
namespace fs = std::filesystem;
}  // namespace qmtest
