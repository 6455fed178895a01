#!/usr/bin/python3
"""Times a batch of generated one-minute 16-bit stereo WAV files converted by
quellmark-cli with one file at a time (-j 1) against two at once (-j 2), to
Ogg at quality 3 (outputType=2, oggQuality=3) and to MP3 at 128 kbit/s
(outputType=1, Bitrate=128). Checks that every output is byte-identical
between the two runs, and reports the peak memory (max RSS, from
/usr/bin/time -v) of one run with 8 files at once (-j 8).

usage: bench/jobs/jobs_bench.py BUILD_BIN_DIR [FILES] [RUNS]
(FILES defaults to 8, RUNS to 3). Prints the median wall-clock and CPU
seconds of RUNS runs each (alternating -j 1 and -j 2, so a change of load
hits both), the ratio -j 2 / -j 1 (goal: at most 0.6 on two cores), the
peak memory, and the load average before and after."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
from mp3_bench import arguments, line, timed, write_signal  # noqa: E402

TARGETS = [("Ogg q3", ".ogg", ["outputType=2", "oggQuality=3"]),
           ("MP3 128k", ".mp3", ["outputType=1", "Bitrate=128"])]


def command(cli, out, sets, jobs, sources):
    cmd = [cli, "-j", str(jobs), "--set", "asInput=0", "--set", "OutputDir=" + out]
    for s in sets:
        cmd += ["--set", s]
    return cmd + sources


def outputs(folder):
    result = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            result[name] = f.read()
    return result


def main():
    args = arguments(__doc__, first=(8, 3))
    if args is None:
        return 2
    cli, files, runs = args
    work = tempfile.mkdtemp(prefix="jobs_bench_")
    failed = False
    try:
        print("load average before:", " ".join(f"{x:.2f}" for x in os.getloadavg()))
        first = os.path.join(work, "src", "f00.wav")
        os.makedirs(os.path.dirname(first))
        write_signal(first, 60)
        sources = [first]
        for i in range(1, files):
            path = os.path.join(work, "src", f"f{i:02d}.wav")
            shutil.copyfile(first, path)
            sources.append(path)
        for name, ext, sets in TARGETS:
            times = {1: [], 2: []}
            kept = {}
            for run in range(runs):
                for jobs in (1, 2):
                    out = os.path.join(work, f"out{jobs}")
                    shutil.rmtree(out, ignore_errors=True)
                    os.makedirs(out)
                    times[jobs].append(timed(command(cli, out + "/", sets, jobs, sources)))
                    got = outputs(out)
                    if len(got) != files or not all(n.endswith(ext) for n in got):
                        print(f"{name}: -j {jobs} wrote {sorted(got)}")
                        failed = True
                    if jobs in kept and kept[jobs] != got:
                        print(f"{name}: -j {jobs} differs between its runs")
                        failed = True
                    kept[jobs] = got
            one = line(f"{name} -j 1", times[1])
            two = line(f"{name} -j 2", times[2])
            print(f"{name}: wall ratio -j 2 / -j 1 = {two[0] / one[0]:.3f} (goal <= 0.6), "
                  f"cpu ratio {two[1] / one[1]:.3f}")
            same = kept.get(1) == kept.get(2)
            print(f"{name}: outputs of -j 1 and -j 2 byte-identical: {'yes' if same else 'NO'}")
            failed = failed or not same
        # Peak memory of one run with 8 at once (Ogg, the larger encoder state).
        out = os.path.join(work, "out8")
        os.makedirs(out)
        run = subprocess.run(["/usr/bin/time", "-v"] + command(cli, out + "/", TARGETS[0][2], 8, sources),
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
        rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)
        print(f"peak memory of -j 8 ({files} files to Ogg q3): {int(rss.group(1)) / 1024:.1f} MiB max RSS"
              if rss else "peak memory: /usr/bin/time gave no figure")
        print("load average after:", " ".join(f"{x:.2f}" for x in os.getloadavg()))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
