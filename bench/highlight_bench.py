#!/usr/bin/env python3
"""Highlight export benchmark: ten moments of 12 s of the 1080p fixture, back
to back into one MP4, through our exporter against the ffmpeg command doing the
same job (trim and concat filters, the same x264 settings), both held to the
same number of x264 threads. Also times stream copy of the same ranges (what a
smart cut could approach at best; not frame-exact).
Usage: highlight_bench.py BUILD_DIR [THREADS] [PRESET] [ROUNDS]
(fixtures from scripts/make-fixtures BUILD_DIR/fixtures --big)"""
import os, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
threads = sys.argv[2] if len(sys.argv) > 2 else "2"
preset = sys.argv[3] if len(sys.argv) > 3 else "superfast"
rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 1
src = os.path.join(build, "fixtures", "big.mp4")
tool = os.path.join(build, "bench", "export_highlight")
tmp = tempfile.mkdtemp()
# The fixture lasts 60 s: ten 12-second moments 5 s apart overlap in the
# source (an exporter is handed them as they are; the screens merge them).
moments = [(5.0 * i + 0.3, 5.0 * i + 12.3) for i in range(10)]

def timed(cmd):
    t = time.monotonic()
    out = subprocess.run(cmd, capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{out.stdout}{out.stderr}")
    return time.monotonic() - t

def frames(path):
    return int(subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-select_streams", "v",
                               "-show_entries", "stream=nb_read_packets", "-of",
                               "default=nw=1:nk=1", path], capture_output=True,
                              text=True).stdout.strip())

def decode_messages(path):
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"],
                          capture_output=True, text=True).stderr.strip()

ours = os.path.join(tmp, "ours.mp4")
cli = os.path.join(tmp, "cli.mp4")
parts = []
for i, (s, e) in enumerate(moments):
    parts.append(f"[0:v]trim=start={s}:end={e},setpts=PTS-STARTPTS[v{i}];"
                 f"[0:a]atrim=start={s}:end={e},asetpts=PTS-STARTPTS[a{i}];")
graph = "".join(parts) + "".join(f"[v{i}][a{i}]" for i in range(len(moments))) + \
    f"concat=n={len(moments)}:v=1:a=1[v][a]"
cli_cmd = ["ffmpeg", "-v", "error", "-y", "-i", src, "-filter_complex", graph, "-map", "[v]",
           "-map", "[a]", "-c:v", "libx264", "-preset", preset, "-crf", "18", "-profile:v", "high",
           "-pix_fmt", "yuv420p", "-threads", threads, "-c:a", "aac", "-b:a", "192k",
           "-movflags", "+faststart", cli]
ours_cmd = [tool, src, ours, preset, threads] + \
    [f"{int(s * 1000)}:{int(e * 1000)}" for s, e in moments]

print(f"{len(moments)} moments of 12 s from {src}, x264 {preset}, {threads} threads, "
      f"{os.cpu_count()} cores")
results = {"ours": [], "cli": []}
for r in range(rounds):
    results["ours"].append(timed(ours_cmd))
    results["cli"].append(timed(cli_cmd))
best_ours, best_cli = min(results["ours"]), min(results["cli"])
print(f"{'ours':28} {best_ours:8.2f} s  frames {frames(ours)}  decode messages: "
      f"{len(decode_messages(ours).splitlines())}")
print(f"{'ffmpeg trim+concat':28} {best_cli:8.2f} s  frames {frames(cli)}")
print(f"{'ratio ours / ffmpeg':28} {best_ours / best_cli:8.2f}")

# Stream copy of the same ranges joined by the concat demuxer: whole GOPs
# only, so not frame-exact; the floor a smart cut could approach.
t = time.monotonic()
listing = os.path.join(tmp, "list.txt")
with open(listing, "w") as f:
    for i, (s, e) in enumerate(moments):
        part = os.path.join(tmp, f"copy{i}.mp4")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-ss", str(s), "-i", src, "-t", str(e - s),
                        "-c", "copy", "-avoid_negative_ts", "make_zero", part], check=True)
        f.write(f"file '{part}'\n")
subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "concat", "-safe", "0", "-i", listing, "-c",
                "copy", os.path.join(tmp, "copy.mp4")], check=True)
copy_time = time.monotonic() - t
print(f"{'stream copy (not exact)':28} {copy_time:8.2f} s  ({best_ours / copy_time:.1f}x faster "
      f"than ours)")
