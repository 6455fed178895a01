#!/usr/bin/python3
"""Times WAV -> FLAC at level 5: quellmark-cli (output type 5, flacLevel=5)
against `flac -5` on the same generated 5-minute 16-bit stereo file. Both
encoders run the same library at the same level: the files must decode to
the source's samples, and their audio frames are expected to be the same
bytes.

usage: flac_bench.py BUILD_BIN_DIR [SECONDS] [RUNS]
Prints the median wall-clock and CPU seconds of RUNS runs each (alternating
the programs, so that a change of load hits both), the ratios ours/flac
(1.05 or less is the goal), and the load average before and after: on a
loaded machine the CPU times are the steadier figure."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

# The generated signal and the timing of the MP3 benchmark, the WAV reading
# of the Vorbis one.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vorbis"))
from mp3_bench import race  # noqa: E402
from vorbis_bench import wav_data  # noqa: E402


def audio_frames(path):
    """The bytes after the last metadata block of a FLAC file."""
    with open(path, "rb") as f:
        raw = f.read()
    at = 4
    while at + 4 <= len(raw):
        last = raw[at] & 0x80
        length = struct.unpack(">I", b"\0" + raw[at + 1:at + 4])[0]
        at += 4 + length
        if last:
            break
    return raw[at:]


def decoded(path, out):
    subprocess.run(["flac", "-s", "-d", "-f", "-o", out, path], check=True)
    return wav_data(out)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    work = tempfile.mkdtemp(prefix="flac_bench_")
    try:
        theirs = os.path.join(work, "flac.flac")
        wav = race(os.path.join(sys.argv[1], "quellmark-cli"), work,
                   int(sys.argv[2]) if len(sys.argv) > 2 else 300, int(sys.argv[3]) if len(sys.argv) > 3 else 5,
                   ["outputType=5", "flacLevel=5"], "quellmark-cli WAV -> FLAC level 5", "flac -5",
                   lambda source: ["flac", "-s", "-f", "-5", "-o", theirs, source])
        ours = os.path.join(work, "in.flac")
        same_samples = (decoded(ours, os.path.join(work, "ours.wav")) == decoded(theirs, os.path.join(work, "theirs.wav"))
                        == wav_data(wav))
        same_frames = audio_frames(ours) == audio_frames(theirs)
        print(f"both decode to the source's samples: {'yes' if same_samples else 'NO'}")
        print(f"audio frames identical: {'yes' if same_frames else 'NO'} "
              f"({os.path.getsize(ours)} / {os.path.getsize(theirs)} bytes)")
        return 0 if same_samples else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
