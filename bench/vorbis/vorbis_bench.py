#!/usr/bin/python3
"""Times Ogg Vorbis both ways on the same generated 5-minute 16-bit stereo
file: WAV -> Ogg at quality 3 through quellmark-cli (output type 2,
oggQuality=3) against `oggenc -q 3`, and Ogg -> WAV through quellmark-cli
(output type 0) against `oggdec`, the Ogg file being the one oggenc wrote.
Both encoders must give streams that decode to the same samples, and both
decoders the same WAV data.

usage: vorbis_bench.py BUILD_BIN_DIR [SECONDS] [RUNS]
Prints the median wall-clock and CPU seconds of RUNS runs each (15 unless
given: the two encoders differ by less than one run's noise; alternating
the programs, so that a change of load hits both), the ratios ours/theirs
(goals: 1.03 for encoding, 1.10 for decoding), and the load average before
and after: on a loaded machine the CPU times are the steadier figure, and
the median of the back-to-back ratios and the ratio of the fastest runs
steadier still."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

# The same generated signal and the same timing as the MP3 benchmark.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
from mp3_bench import line, paired, timed, write_signal  # noqa: E402


def wav_data(path):
    """The bytes of a WAV file's data chunk."""
    with open(path, "rb") as f:
        raw = f.read()
    at = 12
    while at + 8 <= len(raw):
        size = struct.unpack("<I", raw[at + 4:at + 8])[0]
        if raw[at:at + 4] == b"data":
            return raw[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return b""


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    cli = os.path.join(sys.argv[1], "quellmark-cli")
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 15
    work = tempfile.mkdtemp(prefix="vorbis_bench_")
    try:
        wav = os.path.join(work, "in.wav")
        write_signal(wav, seconds)
        ours_ogg = os.path.join(work, "in.ogg")
        theirs_ogg = os.path.join(work, "oggenc.ogg")
        decode_dir = os.path.join(work, "decode")
        os.mkdir(decode_dir)
        source_ogg = os.path.join(decode_dir, "track.ogg")
        ours_wav = os.path.join(decode_dir, "track.wav")
        theirs_wav = os.path.join(work, "oggdec.wav")
        encode_ini = os.path.join(work, "encode.ini")
        decode_ini = os.path.join(work, "decode.ini")
        with open(encode_ini, "w") as f:
            f.write("[Options]\noutputType=2\noggQuality=3\n")
        with open(decode_ini, "w") as f:
            f.write("[Options]\noutputType=0\n")
        print(f"{seconds} s of 16-bit stereo 44.1 kHz ({os.path.getsize(wav)} bytes), {runs} runs each")
        print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        enc_ours, enc_theirs, dec_ours, dec_theirs = [], [], [], []
        for _ in range(runs):
            enc_ours.append(timed([cli, "--settings", encode_ini, wav]))
            enc_theirs.append(timed(["oggenc", "-Q", "-q", "3", "-o", theirs_ogg, wav]))
        shutil.copy(theirs_ogg, source_ogg)
        for _ in range(runs):
            dec_ours.append(timed([cli, "--settings", decode_ini, source_ogg]))
            dec_theirs.append(timed(["oggdec", "-Q", "-o", theirs_wav, source_ogg]))
        print(f"load average after:  {' '.join(f'{x:.2f}' for x in os.getloadavg())}")

        wall_eo, cpu_eo = line("quellmark-cli WAV -> Ogg q3", enc_ours)
        wall_et, cpu_et = line("oggenc -q 3", enc_theirs)
        wall_do, cpu_do = line("quellmark-cli Ogg -> WAV", dec_ours)
        wall_dt, cpu_dt = line("oggdec", dec_theirs)
        for what, peer, ours, theirs, wall, cpu in (
                ("encode", "oggenc", enc_ours, enc_theirs, wall_eo / wall_et, cpu_eo / cpu_et),
                ("decode", "oggdec", dec_ours, dec_theirs, wall_do / wall_dt, cpu_do / cpu_dt)):
            pair, best = paired(ours, theirs)
            print(f"{what} ratio ours/{peer}: wall {wall:.3f}, cpu {cpu:.3f}; "
                  f"cpu of runs back to back {pair:.3f}, of the fastest runs {best:.3f}")

        # Same encoder, same settings: both streams decode to the same samples
        # after the first block, where oggenc treats the start of the signal
        # its own way.
        check_ours = os.path.join(work, "check-ours.wav")
        check_theirs = os.path.join(work, "check-theirs.wav")
        subprocess.run(["oggdec", "-Q", "-o", check_ours, ours_ogg], check=True)
        subprocess.run(["oggdec", "-Q", "-o", check_theirs, theirs_ogg], check=True)
        skip = 2048 * 4
        mine, ref = wav_data(check_ours), wav_data(check_theirs)
        same_encode = len(mine) == len(ref) and mine[skip:] == ref[skip:]
        same_decode = wav_data(ours_wav) == wav_data(theirs_wav)
        print(f"encoded streams decode alike after the first 2048 frames: {'yes' if same_encode else 'NO'} "
              f"({os.path.getsize(ours_ogg)} / {os.path.getsize(theirs_ogg)} bytes)")
        print(f"decoded WAV data identical: {'yes' if same_decode else 'NO'}")
        return 0 if same_encode and same_decode else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
