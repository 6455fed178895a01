#!/usr/bin/python3
"""Times what checking an output before its source is deleted costs: the same
conversion of a generated 16-bit stereo 44.1 kHz file (5 minutes by default)
through quellmark-cli with "deleteSource" on (the output is decoded back and
compared before the source goes) and off, for every output type (WAV PCM,
WAV IMA ADPCM, MP3, OGG, WMA, APE). The source is copied afresh before each
run (untimed), so every deleting run has one to delete; the check must have
deleted it, and the run without it must have kept it.

usage: check_bench.py BUILD_BIN_DIR [SECONDS] [RUNS]
Prints the median wall-clock and CPU seconds of RUNS runs each (on and off
alternate, so a change of load hits both), the ratio on/off, and the load
average before and after."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
from mp3_bench import arguments, line, timed  # noqa: E402

# name, settings (besides deleteSource), output extension
OUTPUTS = [
    ("WAV PCM", "outputType=0\nwavCh=2\nwavBps=16\nwavSr=44100\nwavFormat=0\n", ".wav.wav"),
    ("WAV IMA ADPCM", "outputType=0\nwavCh=2\nwavBps=16\nwavSr=44100\nwavFormat=1\n", ".wav.wav"),
    ("MP3 128 kbit/s", "outputType=1\nBitrate=128\n", ".mp3"),
    ("OGG quality 3", "outputType=2\noggQuality=3\n", ".ogg"),
    ("WMA 128 kbit/s", "outputType=3\nBitrate=128\n", ".wma"),
    ("APE 2000", "outputType=4\napeCompression=2000\n", ".ape"),
]


def main():
    args = arguments(__doc__, first=(300, 3))
    if args is None:
        return 2
    cli, seconds, runs = args
    work = tempfile.mkdtemp(prefix="check_bench_")
    ok = True
    try:
        master = os.path.join(work, "master.wav")
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                        f"aevalsrc=0.4*sin(2*PI*220*t)*(0.5+0.5*sin(2*PI*0.3*t))+0.05*random(0)|"
                        f"0.4*sin(2*PI*221.1*t)*(0.5-0.5*sin(2*PI*0.3*t))+0.05*random(1):s=44100:d={seconds}",
                        "-c:a", "pcm_s16le", master], check=True)
        src = os.path.join(work, "in.wav")
        print(f"{seconds} s of 16-bit stereo 44.1 kHz, {runs} runs each")
        print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        for name, settings, ext in OUTPUTS:
            inis = {}
            for delete in (0, 1):
                inis[delete] = os.path.join(work, f"{delete}.ini")
                with open(inis[delete], "w") as f:
                    f.write(f"[Options]\nasInput=1\nexistingOutput=1\ndeleteSource={delete}\n{settings}")
            times = {0: [], 1: []}
            for _ in range(runs):
                for delete in (0, 1):
                    shutil.copyfile(master, src)
                    times[delete].append(timed([cli, "--settings", inis[delete], src]))
                    kept = os.path.exists(src)
                    if kept == bool(delete) or not os.path.exists(os.path.join(work, "in" + ext)):
                        print(f"  {name}: deleteSource={delete} left the source {'kept' if kept else 'gone'}")
                        ok = False
            print(name)
            w_off, c_off = line("  deleteSource=0", times[0], 18)
            w_on, c_on = line("  deleteSource=1", times[1], 18)
            print(f"  ratio on/off: wall {w_on / w_off:.3f}, cpu {c_on / c_off:.3f}")
        print(f"load average after:  {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        return 0 if ok else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
