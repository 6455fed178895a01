#!/usr/bin/python3
"""Times the WAV -> WAV path of quellmark-cli as a user runs it, against the
usual tools doing the same job on the same files, in one run:

  default settings   44.1 kHz 16-bit stereo -> 22050 Hz 8-bit mono (the
                     window's defaults) against `sox in.wav -r 22050 -c 1 -b 8`;
                     goal ratio <= 1.0, aim 0.5
  48 kHz             44.1 kHz -> 48 kHz, 16-bit stereo, against
                     `sox in.wav out.wav rate -q 48000`
  copy               the source's own rate, width and channels, on a longer
                     file, against `cp`; goal ratio <= 2.0, aim 1.25. The copy
                     must give the source's samples bit for bit.
  start-up           a 0.1 s file at its own format: the fixed cost of a run,
                     against sox copying the same file

usage: wav_cli_bench.py BUILD_BIN_DIR [SECONDS] [RUNS] [COPY_SECONDS]
  e.g. bench/wav/wav_cli_bench.py build/bin
Defaults: a 300 s input, 5 runs, a 1800 s input for the copy. Prints the
median wall-clock and CPU seconds of each command (the programs alternate
run by run, so a change of load hits both), the ratios ours/theirs, and the
load average before and after: on a loaded machine the CPU times are the
steadier figure."""
import os
import shutil
import subprocess
import sys
import tempfile

# The same generated signal and the same timing as the other benchmarks.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vorbis"))
from mp3_bench import arguments, line, timed, write_signal  # noqa: E402
from vorbis_bench import wav_data  # noqa: E402


def repeat_wav(source, target, times):
    """A WAV file whose data is the source's data `times` over."""
    with open(source, "rb") as f:
        raw = f.read()
    header, data = raw[:44], raw[44:]
    size = len(data) * times
    with open(target, "wb") as f:
        f.write(header[:4] + (36 + size).to_bytes(4, "little") + header[8:40] + size.to_bytes(4, "little"))
        for _ in range(times):
            f.write(data)


def settings(path, rate, bits, channels):
    with open(path, "w") as f:
        f.write(f"[Options]\noutputType=0\nwavFormat=0\nwavSr={rate}\nwavBps={bits}\nwavCh={channels}\n")
    return path


def ratio(name, ours, theirs):
    print(f"ratio {name}: wall {ours[0] / theirs[0]:.3f}, cpu {ours[1] / max(theirs[1], 1e-9):.3f}")


def main():
    args = arguments(__doc__, extra=(1800,))
    if args is None:
        return 2
    cli, seconds, runs, copy_seconds = args
    work = tempfile.mkdtemp(prefix="wav_cli_bench_")
    try:
        wav = os.path.join(work, "in.wav")
        write_signal(wav, seconds)
        long_wav = os.path.join(work, "long.wav")
        repeat_wav(wav, long_wav, max(1, copy_seconds // seconds))
        tiny = os.path.join(work, "tiny.wav")
        write_signal(tiny, 1)
        with open(tiny, "r+b") as f:
            # 0.1 s: 4410 frames.
            f.truncate(44 + 4410 * 4)
            f.seek(4)
            f.write((36 + 4410 * 4).to_bytes(4, "little"))
            f.seek(40)
            f.write((4410 * 4).to_bytes(4, "little"))
        default_ini = settings(os.path.join(work, "default.ini"), 22050, 8, 1)
        up_ini = settings(os.path.join(work, "48k.ini"), 48000, 16, 2)
        copy_ini = settings(os.path.join(work, "copy.ini"), 44100, 16, 2)
        sox_out = os.path.join(work, "sox.wav")
        cp_out = os.path.join(work, "cp.wav")
        print(f"{seconds} s of 16-bit stereo 44.1 kHz ({os.path.getsize(wav)} bytes); copy on "
              f"{os.path.getsize(long_wav)} bytes; {runs} runs each")
        print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        t = {k: [] for k in ("ours_default", "sox_default", "ours_48k", "sox_48k", "ours_copy", "cp",
                             "ours_tiny", "sox_tiny")}
        for _ in range(runs):
            t["ours_default"].append(timed([cli, "--settings", default_ini, wav]))
            t["sox_default"].append(timed(["sox", wav, "-r", "22050", "-c", "1", "-b", "8", sox_out]))
            t["ours_48k"].append(timed([cli, "--settings", up_ini, wav]))
            t["sox_48k"].append(timed(["sox", wav, sox_out, "rate", "-q", "48000"]))
            t["ours_copy"].append(timed([cli, "--settings", copy_ini, long_wav]))
            t["cp"].append(timed(["cp", long_wav, cp_out]))
            t["ours_tiny"].append(timed([cli, "--settings", copy_ini, tiny]))
            t["sox_tiny"].append(timed(["sox", tiny, sox_out]))
        print(f"load average after:  {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        m = {}
        m["ours_default"] = line("quellmark-cli 22050 Hz 8-bit mono", t["ours_default"], 44)
        m["sox_default"] = line("sox -r 22050 -c 1 -b 8", t["sox_default"], 44)
        m["ours_48k"] = line("quellmark-cli 48000 Hz 16-bit stereo", t["ours_48k"], 44)
        m["sox_48k"] = line("sox rate -q 48000", t["sox_48k"], 44)
        m["ours_copy"] = line("quellmark-cli copy (own format)", t["ours_copy"], 44)
        m["cp"] = line("cp", t["cp"], 44)
        m["ours_tiny"] = line("quellmark-cli 0.1 s file (start-up)", t["ours_tiny"], 44)
        m["sox_tiny"] = line("sox 0.1 s file", t["sox_tiny"], 44)
        ratio("default ours/sox", m["ours_default"], m["sox_default"])
        ratio("48 kHz ours/sox", m["ours_48k"], m["sox_48k"])
        ratio("copy ours/cp", m["ours_copy"], m["cp"])
        ratio("start-up ours/sox", m["ours_tiny"], m["sox_tiny"])
        same = wav_data(long_wav + ".wav") == wav_data(long_wav)
        print(f"copy gives the source's samples: {'yes' if same else 'NO'}")
        return 0 if same else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
