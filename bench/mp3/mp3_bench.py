#!/usr/bin/python3
"""Times WAV -> MP3 at 128 kbit/s: quellmark-cli (output type 1, the
application's MP3 settings: stereo, no bit reservoir, no VBR header) against
the lame tool given the same encoder settings (-b 128 -m s --nores -t), on
the same generated 5-minute 16-bit stereo file. Both runs must write the same
audio frames (ours ends with a 128-byte ID3v1 block that lame does not write).

usage: mp3_bench.py BUILD_BIN_DIR [SECONDS] [RUNS]
Prints the median wall-clock and CPU seconds of RUNS runs each (alternating
the two programs, so that a change of load hits both), the ratios ours/lame
(1.03 or less is the goal), and the load average before and after: on a
loaded machine the CPU times are the steadier figure."""
import math
import os
import random
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

LAME_SWITCHES = ["-b", "128", "-m", "s", "--nores", "-t"]
# The tool also runs a ReplayGain analysis unless told not to; it changes no
# audio byte, but costs time our encoder does not spend.
LAME_NO_ANALYSIS = LAME_SWITCHES + ["--noreplaygain"]


def write_signal(path, seconds, rate=44100):
    """Two detuned tones with slow modulation and noise: music-like, deterministic."""
    rng = random.Random(1)
    with open(path, "wb") as f:
        data_bytes = seconds * rate * 4
        f.write(b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16) + b"data" + struct.pack("<I", data_bytes))
        for second in range(seconds):
            f0 = 110 * (1 + second % 7)
            values = []
            for i in range(rate):
                t = (second * rate + i) / rate
                m = 0.5 + 0.5 * math.sin(2 * math.pi * 0.3 * t)
                left = 0.4 * math.sin(2 * math.pi * f0 * t) * m + 0.1 * math.sin(2 * math.pi * 3.01 * f0 * t)
                right = 0.4 * math.sin(2 * math.pi * f0 * 1.005 * t) * (1 - m) + 0.1 * math.sin(2 * math.pi * 2.0 * f0 * t)
                values.append(int(left * 30000) + rng.randint(-200, 200))
                values.append(int(right * 30000) + rng.randint(-200, 200))
            f.write(struct.pack("<%dh" % len(values), *values))


def timed(cmd):
    """Wall-clock and CPU (user + system) seconds of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def arguments(doc, program="quellmark-cli", extra=(), first=(300, 5)):
    """BUILD_BIN_DIR [SECONDS] [RUNS] [extra...] from the command line: the
    program's path, the seconds and the runs (defaults given by first) and the
    extra values (their defaults given); None after printing the usage."""
    if len(sys.argv) < 2:
        print(doc)
        return None
    values = [int(v) for v in sys.argv[2:]]
    defaults = [*first, *extra]
    values += defaults[len(values):]
    return (os.path.join(sys.argv[1], program), *values[:len(defaults)])


def line(name, runs, width=34):
    """Prints the medians of (wall, cpu) runs under a name and returns them."""
    wall = [w for w, _ in runs]
    cpu = [c for _, c in runs]
    print(f"{name:{width}s} wall median {statistics.median(wall):6.2f} s (runs {' '.join(f'{x:.2f}' for x in wall)})"
          f"  cpu median {statistics.median(cpu):6.2f} s")
    return statistics.median(wall), statistics.median(cpu)


def paired(ours, theirs):
    """The CPU-time ratio ours/theirs two steadier ways than the ratio of
    medians, for a machine whose load comes and goes: the median of the
    ratios of runs made back to back, and the ratio of the fastest runs."""
    pairs = [o[1] / t[1] for o, t in zip(ours, theirs)]
    best = min(c for _, c in ours) / min(c for _, c in theirs)
    return statistics.median(pairs), best


def race(cli, work, seconds, runs, options, ours_label, peer_label, peer_command):
    """Writes the generated signal as WORK/in.wav, then times RUNS runs each
    of quellmark-cli with the [Options] lines OPTIONS on it and of the peer
    program (PEER_COMMAND(wav) gives its command line), alternating them, and
    prints the medians, the ratios ours/peer and the load average before and
    after. Returns the WAV file's path; our output is beside it."""
    wav = os.path.join(work, "in.wav")
    write_signal(wav, seconds)
    settings = os.path.join(work, "race.ini")
    with open(settings, "w") as f:
        f.write("[Options]\n" + "".join(o + "\n" for o in options))
    print(f"{seconds} s of 16-bit stereo 44.1 kHz ({os.path.getsize(wav)} bytes), {runs} runs each")
    print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    ours, theirs = [], []
    for _ in range(runs):
        ours.append(timed([cli, "--settings", settings, wav]))
        theirs.append(timed(peer_command(wav)))
    print(f"load average after:  {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    wall_o, cpu_o = line(ours_label, ours)
    wall_t, cpu_t = line(peer_label, theirs)
    pair, best = paired(ours, theirs)
    print(f"ratio ours/{peer_label.split()[0]}: wall {wall_o / wall_t:.3f}, cpu {cpu_o / cpu_t:.3f}; "
          f"cpu of runs back to back {pair:.3f}, of the fastest runs {best:.3f}")
    return wav


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    cli = os.path.join(sys.argv[1], "quellmark-cli")
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    work = tempfile.mkdtemp(prefix="mp3_bench_")
    try:
        wav = os.path.join(work, "in.wav")
        write_signal(wav, seconds)
        ours = os.path.join(work, "in.mp3")
        theirs = os.path.join(work, "lame.mp3")
        settings = os.path.join(work, "bench.ini")
        with open(settings, "w") as f:
            f.write("[Options]\noutputType=1\nBitrate=128\n")
        print(f"{seconds} s of 16-bit stereo 44.1 kHz ({os.path.getsize(wav)} bytes), {runs} runs each")
        print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        t_ours, t_lame, t_bare = [], [], []
        for _ in range(runs):
            t_ours.append(timed([cli, "--settings", settings, wav]))
            t_lame.append(timed(["lame", "--quiet", *LAME_SWITCHES, wav, theirs]))
            t_bare.append(timed(["lame", "--quiet", *LAME_NO_ANALYSIS, wav, theirs]))
        with open(ours, "rb") as a, open(theirs, "rb") as b:
            mine, ref = a.read(), b.read()
        same = len(mine) == len(ref) + 128 and mine[:len(ref)] == ref and mine[len(ref):len(ref) + 3] == b"TAG"
        print(f"load average after:  {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        wall_ours, cpu_ours = line("quellmark-cli", t_ours, 50)
        wall_lame, cpu_lame = line("lame " + " ".join(LAME_SWITCHES), t_lame, 50)
        wall_bare, cpu_bare = line("lame " + " ".join(LAME_NO_ANALYSIS), t_bare, 50)
        print(f"ratio ours/lame: wall {wall_ours / wall_lame:.3f}, cpu {cpu_ours / cpu_lame:.3f}; "
              f"without its analysis: wall {wall_ours / wall_bare:.3f}, cpu {cpu_ours / cpu_bare:.3f}")
        print(f"audio frames identical: {'yes' if same else 'NO'} ({len(mine)} / {len(ref)} bytes)")
        return 0 if same else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
