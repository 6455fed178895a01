// The WAV reader and writer and the two converters of the WAV path, when this
// build has them.
#pragma once

#if __has_include("codecs/wav_in.h") && __has_include("codecs/wav_out.h") && \
    __has_include("converters/fast_resampler.h") && __has_include("converters/audio_converter.h")
#define QUELLMARK_HAVE_WAV_PATH 1
#include "codecs/wav_in.h"
#include "codecs/wav_out.h"
#include "converters/audio_converter.h"
#include "converters/fast_resampler.h"
#else
#define QUELLMARK_HAVE_WAV_PATH 0
#endif
