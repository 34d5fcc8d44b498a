#!/usr/bin/env python3
"""Clip export benchmark: a 40-second clip of the 1080p fixture through our
exporter (each x264 preset) against the ffmpeg command with the same encoder
settings and against stream copy; wall time, peak memory, and the lowest
per-frame PSNR against the source frames.
Usage: export_bench.py BUILD_DIR   (fixtures from scripts/make-fixtures DIR --big)"""
import os, re, resource, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
src = os.path.join(build, "fixtures", "big.mp4")
tool = os.path.join(build, "bench", "export_clip")
start, length = 10, 40
tmp = tempfile.mkdtemp()

def run(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    t = time.monotonic()
    out = subprocess.run(cmd, capture_output=True, text=True)
    wall = time.monotonic() - t
    if out.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{out.stderr}")
    return wall, out.stdout

def min_psnr(path):
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-ss", str(start), "-t", str(length),
                          "-i", src, "-lavfi", "[0:v][1:v]psnr=stats_file=-", "-f", "null", "-"],
                         capture_output=True, text=True).stdout
    values = [float(m) for m in re.findall(r"psnr_avg:([0-9.]+|inf)", out) if m != "inf"]
    frames = len(re.findall(r"n:", out))
    return (min(values) if values else float("inf")), frames

def profile(path):
    return subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                           "stream=profile", "-of", "default=nw=1:nk=1", path],
                          capture_output=True, text=True).stdout.strip()

print(f"{'what':28} {'seconds':>8} {'peak RSS MiB':>13} {'min PSNR dB':>12} {'frames':>7}  profile")
for preset in ["ultrafast", "superfast", "veryfast", "faster", "fast"]:
    out = os.path.join(tmp, f"ours-{preset}.mp4")
    wall, text = run([tool, src, out, str(start * 1000), str((start + length) * 1000), preset])
    rss = int(re.search(r"peak RSS (\d+)", text).group(1)) / 1024
    p, n = min_psnr(out)
    print(f"{'ours ' + preset:28} {wall:8.2f} {rss:13.0f} {p:12.2f} {n:7d}  {profile(out)}")
    if preset in ("ultrafast", "superfast", "veryfast"):
        out = os.path.join(tmp, "cli.mp4")
        cmd = ["/usr/bin/env", "python3", "-c",
               "import resource,subprocess,sys; r=subprocess.run(sys.argv[1:]).returncode;"
               "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss); sys.exit(r)",
               "ffmpeg", "-v", "error", "-y", "-ss", str(start), "-i", src, "-t", str(length),
               "-c:v", "libx264", "-preset", preset, "-crf", "18", "-profile:v", "high",
               "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", out]
        wall, text = run(cmd)
        p, n = min_psnr(out)
        print(f"{'ffmpeg command ' + preset:28} {wall:8.2f} {int(text.split()[-1]) / 1024:13.0f} {p:12.2f} {n:7d}  {profile(out)}")
out = os.path.join(tmp, "copy.mp4")
wall, _ = run(["ffmpeg", "-v", "error", "-y", "-ss", str(start), "-i", src, "-t", str(length),
               "-c", "copy", out])
print(f"{'ffmpeg stream copy':28} {wall:8.2f} {'':>13} {'':>12}")
