#!/usr/bin/env python3
"""Smart-cut measurement (not adopted in the exporter): the same ten moments as
highlight_bench.py, with the whole GOPs inside each moment copied and only the
partial GOPs at its edges re-encoded (ffmpeg command-line tools, video only,
sound re-encoded in one pass), joined by the concat demuxer. Reports the time,
the decoder's messages on the result and the lowest per-frame PSNR against a
frame-exact re-encode.
Usage: smartcut_probe.py BUILD_DIR [THREADS]"""
import os, re, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
threads = sys.argv[2] if len(sys.argv) > 2 else "2"
src = os.path.join(build, "fixtures", "big.mp4")
tmp = tempfile.mkdtemp()
moments = [(5.0 * i + 0.3, 5.0 * i + 12.3) for i in range(10)]
x264 = ["-c:v", "libx264", "-preset", "superfast", "-crf", "18", "-profile:v", "high",
        "-pix_fmt", "yuv420p", "-threads", threads]

def ff(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *args], check=True)

keys = [float(t.strip(",")) for t in subprocess.run(
    ["ffprobe", "-v", "error", "-select_streams", "v", "-skip_frame", "nokey", "-show_entries",
     "frame=pts_time", "-of", "csv=p=0", src], capture_output=True, text=True).stdout.split()]

t0 = time.monotonic()
parts = []
for i, (s, e) in enumerate(moments):
    inside = [k for k in keys if s <= k <= e]
    if len(inside) < 2:
        out = os.path.join(tmp, f"p{i}.mp4")
        ff("-ss", str(s), "-i", src, "-t", str(e - s), "-an", *x264, out)
        parts.append(out)
        continue
    k1, k2 = inside[0], inside[-1]
    for name, a, b, how in (("h", s, k1, x264), ("m", k1, k2, ["-c:v", "copy"]),
                            ("t", k2, e, x264)):
        if b - a < 0.02:
            continue
        out = os.path.join(tmp, f"{name}{i}.mp4")
        ff("-ss", str(a), "-i", src, "-t", str(b - a), "-an", *how, out)
        parts.append(out)
listing = os.path.join(tmp, "list.txt")
with open(listing, "w") as f:
    f.writelines(f"file '{p}'\n" for p in parts)
video = os.path.join(tmp, "video.mp4")
ff("-f", "concat", "-safe", "0", "-i", listing, "-c", "copy", video)
graph = "".join(f"[0:a]atrim=start={s}:end={e},asetpts=PTS-STARTPTS[a{i}];"
                for i, (s, e) in enumerate(moments))
graph += "".join(f"[a{i}]" for i in range(len(moments))) + f"concat=n={len(moments)}:v=0:a=1[a]"
out = os.path.join(tmp, "smart.mp4")
ff("-i", src, "-i", video, "-filter_complex", graph, "-map", "1:v", "-map", "[a]", "-c:v", "copy",
   "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", out)
smart_time = time.monotonic() - t0

messages = subprocess.run(["ffmpeg", "-v", "error", "-i", out, "-f", "null", "-"],
                          capture_output=True, text=True).stderr.strip().splitlines()
# The frame-exact reference: the same moments decoded from the source.
vgraph = "".join(f"[0:v]trim=start={s}:end={e},setpts=PTS-STARTPTS[v{i}];"
                 for i, (s, e) in enumerate(moments))
vgraph += "".join(f"[v{i}]" for i in range(len(moments))) + f"concat=n={len(moments)}:v=1:a=0[r];"
psnr = subprocess.run(["ffmpeg", "-v", "error", "-i", src, "-i", out, "-filter_complex",
                       vgraph + "[1:v][r]psnr=stats_file=-", "-f", "null", "-"],
                      capture_output=True, text=True).stdout
values = [float(m) for m in re.findall(r"psnr_avg:([0-9.]+)", psnr)]
n = len(re.findall(r"n:", psnr))
print(f"smart cut {smart_time:.2f} s; decoder messages {len(messages)}"
      f"{' (first: ' + messages[0] + ')' if messages else ''}; frames compared {n}; "
      f"min PSNR {min(values) if values else float('nan'):.2f} dB")
