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

# The same generated signal and the same timing as the MP3 benchmark.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
from mp3_bench import line, timed, write_signal  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vorbis"))
from vorbis_bench import wav_data  # noqa: E402


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    cli = os.path.join(sys.argv[1], "quellmark-cli")
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    work = tempfile.mkdtemp(prefix="opus_bench_")
    try:
        wav = os.path.join(work, "in.wav")
        write_signal(wav, seconds)
        ours = os.path.join(work, "in.opus")
        theirs = os.path.join(work, "opusenc.opus")
        ini = os.path.join(work, "opus.ini")
        with open(ini, "w") as f:
            f.write("[Options]\noutputType=6\nopusBitrate=128\n")
        print(f"{seconds} s of 16-bit stereo 44.1 kHz ({os.path.getsize(wav)} bytes), {runs} runs each")
        print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        mine, ref = [], []
        for _ in range(runs):
            mine.append(timed([cli, "--settings", ini, wav]))
            ref.append(timed(["opusenc", "--quiet", "--bitrate", "128", wav, theirs]))
        print(f"load average after:  {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        wall_o, cpu_o = line("quellmark-cli WAV -> Opus 128", mine)
        wall_t, cpu_t = line("opusenc --bitrate 128", ref)
        print(f"ratio ours/opusenc: wall {wall_o / wall_t:.3f}, cpu {cpu_o / cpu_t:.3f}")

        check_ours = os.path.join(work, "check-ours.wav")
        check_theirs = os.path.join(work, "check-theirs.wav")
        subprocess.run(["opusdec", "--quiet", ours, check_ours], check=True)
        subprocess.run(["opusdec", "--quiet", theirs, check_theirs], check=True)
        same = wav_data(check_ours) == wav_data(check_theirs)
        print(f"both decode to the same samples: {'yes' if same else 'NO'} "
              f"({os.path.getsize(ours)} / {os.path.getsize(theirs)} bytes)")
        return 0 if same else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
