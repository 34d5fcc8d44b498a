#!/usr/bin/env python3
"""From pressing play on the group page to the video's first frame, for a
10 s clip (H.264/AAC, +faststart, 1280x720 as published), in headless
Chromium at a phone's size against `rucktag serve` on this machine. Each
round loads the page afresh and the clip by a new URL (nothing cached), waits
for its metadata (the page preloads it), then clicks the video and, when the
click only showed the controls (a phone's tap does), plays it as the play
button does. The clock starts at the click as the page sees it (pointerdown),
so the WebDriver round trip to play() counts too, and stops at the first
frame shown (requestVideoFrameCallback where the browser has it, else
currentTime > 0 or readyState >= 3). Target: 1 s.
Usage: bench/serve_first_frame.py [BUILD_DIR] [ROUNDS]"""
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build")
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 10
sys.path.insert(0, os.path.join(HERE, "..", "tests", "tools"))
sys.argv = [sys.argv[0], os.path.join(build, "src", "app", "rucktag")]
import serve_page_test as page  # noqa: E402  (it re-runs under Debian's python3 when needed)
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

ARM = """
const [video, round, done] = arguments;
window.rtFrame = null;
video.addEventListener('pointerdown', () => {
  const t0 = performance.now();
  const seen = how => { if (window.rtFrame === null) window.rtFrame = [performance.now() - t0, how]; };
  if ('requestVideoFrameCallback' in video) {
    video.requestVideoFrameCallback(() => seen('requestVideoFrameCallback'));
  } else {
    const poll = setInterval(() => {
      if (video.currentTime > 0 || video.readyState >= 3) { clearInterval(poll); seen('poll'); }
    }, 2);
  }
}, {once: true});
video.src = video.getAttribute('src') + '?round=' + round;
video.addEventListener('loadedmetadata', () => done(true), {once: true});
video.load();
"""
FRAME = """
const [video, done] = arguments;
const clicked = !video.paused;
// Chromium's controls play on a click on the picture; if this one did not,
// play as the play button does.
setTimeout(() => { if (video.paused) video.play(); }, 0);
const wait = setInterval(() => {
  if (window.rtFrame !== null) { clearInterval(wait); done(window.rtFrame.concat([clicked])); }
}, 2);
"""


def main():
    with tempfile.TemporaryDirectory() as folder:
        token, media = page.publish(folder, seconds=1)
        subprocess.run([page.FFMPEG, "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=1280x720:rate=25:duration=10", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=10", "-c:v", "libx264", "-preset",
                        "veryfast", "-b:v", "2500k", "-pix_fmt", "yuv420p", "-c:a", "aac",
                        "-movflags", "+faststart", "-shortest",
                        os.path.join(folder, "media", media)], check=True)
        with open(os.devnull, "w") as log:
            server, base = page.start_server(folder, log)
        driver = page.browser()
        driver.set_script_timeout(30)
        times, clicks = [], 0
        try:
            for r in range(rounds):
                driver.get(f"{base}/g/{token}/")
                video = driver.find_element(By.TAG_NAME, "video")
                driver.execute_async_script(ARM, video, r)
                ActionChains(driver).move_to_element(video).click().perform()
                elapsed, how, clicked = driver.execute_async_script(FRAME, video)
                times.append(elapsed)
                clicks += clicked
        finally:
            driver.quit()
            server.terminate()
            server.wait(timeout=30)
            server.stdout.close()
    print(f"play to first frame, 10 s clip 1280x720 ({how}), {rounds} rounds: "
          f"median {statistics.median(times):.0f} ms, max {max(times):.0f} ms (target 1000 ms); "
          f"the click itself started {clicks} of them")


main()
