#!/usr/bin/python3
"""Times the media runtime's two conversions against the ffmpeg tool doing the
same on the same generated 5-minute 16-bit stereo 44.1 kHz file:
  MP3 -> WAV: quellmark-cli (output type 0) vs `ffmpeg -i in.mp3 out.wav`
              (the MP3 made once, untimed, by lame -b 192); both must give
              the same samples;
  WAV -> WMA: quellmark-cli (output type 3, Bitrate 128) vs
              `ffmpeg -i in.wav -c:a wmav2 -b:a 128k out.wma`; both files
              must decode to the same length.

usage: media_bench.py BUILD_BIN_DIR [SECONDS] [RUNS]
Prints the median wall-clock and CPU seconds of RUNS runs each (the programs
alternate, so a change of load hits both), the ratios ours/ffmpeg (1.10 or
less is the goal), and the load average before and after: on a loaded
machine the CPU times are the steadier figure."""
import os
import shutil
import subprocess
import sys
import tempfile

# The timing and report of the MP3 benchmark.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mp3"))
from mp3_bench import arguments, line, timed  # noqa: E402


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def pcm(path):
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"], check=True,
                          stdout=subprocess.PIPE).stdout


def main():
    args = arguments(__doc__, first=(300, 5))
    if args is None:
        return 2
    cli, seconds, runs = args
    work = tempfile.mkdtemp(prefix="media_bench_")
    ok = True
    try:
        mp3dir, wavdir = os.path.join(work, "mp3"), os.path.join(work, "wav")
        os.makedirs(mp3dir)
        os.makedirs(wavdir)
        wav = os.path.join(wavdir, "in.wav")
        run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
             f"aevalsrc=0.4*sin(2*PI*220*t)*(0.5+0.5*sin(2*PI*0.3*t))+0.05*random(0)|"
             f"0.4*sin(2*PI*221.1*t)*(0.5-0.5*sin(2*PI*0.3*t))+0.05*random(1):s=44100:d={seconds}",
             "-c:a", "pcm_s16le", wav])
        mp3 = os.path.join(mp3dir, "in.mp3")
        run(["lame", "--quiet", "-b", "192", wav, mp3])
        to_wav = os.path.join(work, "to_wav.ini")
        with open(to_wav, "w") as f:
            f.write("[Options]\noutputType=0\n")
        to_wma = os.path.join(work, "to_wma.ini")
        with open(to_wma, "w") as f:
            f.write("[Options]\noutputType=3\nBitrate=128\n")
        ff_wav = os.path.join(work, "ffmpeg.wav")
        ff_wma = os.path.join(work, "ffmpeg.wma")
        print(f"{seconds} s of 16-bit stereo 44.1 kHz, {runs} runs each")
        print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        a_ours, a_ff, b_ours, b_ff = [], [], [], []
        for _ in range(runs):
            a_ours.append(timed([cli, "--settings", to_wav, mp3]))
            a_ff.append(timed(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", mp3, ff_wav]))
            b_ours.append(timed([cli, "--settings", to_wma, wav]))
            b_ff.append(timed(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav, "-c:a", "wmav2", "-b:a", "128k",
                               ff_wma]))
        print(f"load average after:  {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
        print("MP3 -> WAV")
        wo, co = line("  quellmark-cli", a_ours, 50)
        wf, cf = line("  ffmpeg -i in.mp3 out.wav", a_ff, 50)
        print(f"  ratio ours/ffmpeg: wall {wo / wf:.3f}, cpu {co / cf:.3f}")
        same = pcm(os.path.join(mp3dir, "in.wav")) == pcm(ff_wav)
        print(f"  samples identical: {'yes' if same else 'NO'}")
        ok = ok and same
        print("WAV -> WMA (128 kbit/s)")
        wo, co = line("  quellmark-cli", b_ours, 50)
        wf, cf = line("  ffmpeg -i in.wav -c:a wmav2 -b:a 128k out.wma", b_ff, 50)
        print(f"  ratio ours/ffmpeg: wall {wo / wf:.3f}, cpu {co / cf:.3f}")
        ours_len, ff_len = len(pcm(os.path.join(wavdir, "in.wma"))), len(pcm(ff_wma))
        print(f"  decoded lengths: ours {ours_len // 4} frames, ffmpeg's {ff_len // 4} frames")
        ok = ok and abs(ours_len - ff_len) // 4 <= 4096
        return 0 if ok else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
