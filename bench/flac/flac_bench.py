#!/usr/bin/python3
"""Times WAV -> FLAC at level 5: quellmark-cli (output type 5, flacLevel=5)
against `flac -5` on the same generated 5-minute 16-bit stereo file. Both
encoders run the same library at the same level: the files must decode to
the same samples, and their audio frames must be the same bytes.

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

# The same generated signal and the same timing as the MP3 benchmark.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
from mp3_bench import line, timed, write_signal  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vorbis"))
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


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    cli = os.path.join(sys.argv[1], "quellmark-cli")
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    work = tempfile.mkdtemp(prefix="flac_bench_")
    try:
        wav = os.path.join(work, "in.wav")
        write_signal(wav, seconds)
        ours = os.path.join(work, "in.flac")
        theirs = os.path.join(work, "flac.flac")
        ini = os.path.join(work, "flac.ini")
        with open(ini, "w") as f:
            f.write("[Options]\noutputType=5\nflacLevel=5\n")
        print(f"{seconds} s of 16-bit stereo 44.1 kHz ({os.path.getsize(wav)} bytes), {runs} runs each")
        print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        mine, ref = [], []
        for _ in range(runs):
            mine.append(timed([cli, "--settings", ini, wav]))
            ref.append(timed(["flac", "-s", "-f", "-5", "-o", theirs, wav]))
        print(f"load average after:  {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        wall_o, cpu_o = line("quellmark-cli WAV -> FLAC level 5", mine)
        wall_t, cpu_t = line("flac -5", ref)
        print(f"ratio ours/flac: wall {wall_o / wall_t:.3f}, cpu {cpu_o / cpu_t:.3f}")

        check_ours = os.path.join(work, "check-ours.wav")
        check_theirs = os.path.join(work, "check-theirs.wav")
        subprocess.run(["flac", "-s", "-d", "-f", "-o", check_ours, ours], check=True)
        subprocess.run(["flac", "-s", "-d", "-f", "-o", check_theirs, theirs], check=True)
        same_samples = wav_data(check_ours) == wav_data(check_theirs) == wav_data(wav)
        same_frames = audio_frames(ours) == audio_frames(theirs)
        print(f"both decode to the source's samples: {'yes' if same_samples else 'NO'}")
        print(f"audio frames identical: {'yes' if same_frames else 'NO'} "
              f"({os.path.getsize(ours)} / {os.path.getsize(theirs)} bytes)")
        return 0 if same_samples else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
