#!/usr/bin/python3
"""Times WAV -> Opus at 128 kbit/s: quellmark-cli (output type 6,
opusBitrate=128) against `opusenc --bitrate 128` on the same generated
5-minute 16-bit stereo 44.1 kHz file. Both run libopusenc with the same
encoder settings (unconstrained VBR, complexity 10, 16-bit LSB depth): their
streams must decode to the same samples.

usage: opus_bench.py BUILD_BIN_DIR [SECONDS] [RUNS]
Prints the median wall-clock and CPU seconds of RUNS runs each (alternating
the programs, so that a change of load hits both), the ratios ours/opusenc
(1.05 or less is the goal), and the load average before and after: on a
loaded machine the CPU times are the steadier figure."""
import os
import shutil
import subprocess
import sys
import tempfile

# The generated signal and the timing of the MP3 benchmark, the WAV reading
# of the Vorbis one.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vorbis"))
from mp3_bench import race  # noqa: E402
from vorbis_bench import wav_data  # noqa: E402


def decoded(path, out):
    subprocess.run(["opusdec", "--quiet", path, out], check=True)
    return wav_data(out)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    work = tempfile.mkdtemp(prefix="opus_bench_")
    try:
        theirs = os.path.join(work, "opusenc.opus")
        race(os.path.join(sys.argv[1], "quellmark-cli"), work,
             int(sys.argv[2]) if len(sys.argv) > 2 else 300, int(sys.argv[3]) if len(sys.argv) > 3 else 5,
             ["outputType=6", "opusBitrate=128"], "quellmark-cli WAV -> Opus 128", "opusenc --bitrate 128",
             lambda source: ["opusenc", "--quiet", "--bitrate", "128", source, theirs])
        ours = os.path.join(work, "in.opus")
        same = decoded(ours, os.path.join(work, "ours.wav")) == decoded(theirs, os.path.join(work, "theirs.wav"))
        print(f"both decode to the same samples: {'yes' if same else 'NO'} "
              f"({os.path.getsize(ours)} / {os.path.getsize(theirs)} bytes)")
        return 0 if same else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
