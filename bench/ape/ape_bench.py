#!/usr/bin/python3
"""Times encoding and decoding of a 5-minute 16-bit stereo file at every
level: our apecodec tool against jmac (encode and decode) and FFmpeg (decode).

usage: ape_bench.py BUILD_BIN_DIR [SECONDS]
Prints one line per level with wall-clock seconds and the ratios
other/ours (above 1 means we are faster)."""
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time

JMAC = "/usr/share/java/jmac.jar"


def write_signal(path, seconds, rate=44100):
    """Two detuned tones with slow modulation and noise: music-like, deterministic."""
    rng = random.Random(1)
    blocks = seconds * rate
    # Build one second and vary it per second so the file is not periodic.
    with open(path, "wb") as f:
        data_bytes = blocks * 4
        f.write(b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16) + b"data" + struct.pack("<I", data_bytes))
        for second in range(seconds):
            f0 = 110 * (1 + second % 7)
            out = bytearray()
            for i in range(rate):
                t = (second * rate + i) / rate
                m = 0.5 + 0.5 * math.sin(2 * math.pi * 0.3 * t)
                left = 0.4 * math.sin(2 * math.pi * f0 * t) * m + 0.1 * math.sin(2 * math.pi * 3.01 * f0 * t)
                right = 0.4 * math.sin(2 * math.pi * f0 * 1.005 * t) * (1 - m) + 0.1 * math.sin(2 * math.pi * 2.0 * f0 * t)
                out += struct.pack("<hh", int(left * 30000) + rng.randint(-200, 200), int(right * 30000) + rng.randint(-200, 200))
            f.write(out)


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    tool = os.path.join(sys.argv[1], "apecodec")
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    work = tempfile.mkdtemp(prefix="ape_bench_")
    try:
        wav = os.path.join(work, "in.wav")
        write_signal(wav, seconds)
        print(f"{seconds} s of 16-bit stereo 44.1 kHz ({os.path.getsize(wav)} bytes)")
        print("level  enc ours  enc jmac  ratio | dec ours  dec jmac  ratio  dec ffmpeg  ratio | size ours  size jmac")
        for level in (1000, 2000, 3000, 4000, 5000):
            ours = os.path.join(work, f"ours{level}.ape")
            theirs = os.path.join(work, f"jmac{level}.ape")
            enc_ours = timed([tool, "encode", "-c", str(level), wav, ours])
            enc_jmac = timed(["java", "-jar", JMAC, f"c{level // 1000}", wav, theirs])
            # FFmpeg's output goes to /dev/null: so does ours, for a fair comparison.
            dec_ours = timed([tool, "decode", ours, os.devnull])
            dec_jmac = timed(["java", "-jar", JMAC, "d", ours, os.path.join(work, "d2.wav")])
            os.remove(os.path.join(work, "d2.wav"))
            dec_ff = timed(["ffmpeg", "-nostdin", "-v", "error", "-i", ours, "-f", "s16le", "-y", os.devnull])
            print(f"{level}  {enc_ours:8.2f}  {enc_jmac:8.2f}  {enc_jmac / enc_ours:5.2f} | {dec_ours:8.2f}  "
                  f"{dec_jmac:8.2f}  {dec_jmac / dec_ours:5.2f}  {dec_ff:10.2f}  {dec_ff / dec_ours:5.2f} | "
                  f"{os.path.getsize(ours):9d}  {os.path.getsize(theirs):9d}", flush=True)
    finally:
        shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
