#!/usr/bin/env python3
"""`rucktag serve` on a publish folder with a real short MP4, its group page
opened in headless Chromium at a phone's size (390x844).

Usage: serve_page_test.py RUCKTAG_BINARY [SCREENSHOT.png [PUBLISH_BENCH]]
The page shows the playlist in Japanese, its video plays and seeks (the
server's log shows the range requests), a revoked link gets the 404 page,
and the command's exit codes are as documented. An item publish_bench smart
cuts plays through its joins. Exits 77 (skipped) when Selenium, Chromium, its
driver or ffmpeg is missing.
"""
import hashlib
import json
import os
import secrets
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

BINARY = sys.argv[1]
SCREENSHOT = sys.argv[2] if len(sys.argv) > 2 else None
PUBLISH_BENCH = sys.argv[3] if len(sys.argv) > 3 and os.path.exists(sys.argv[3]) else None
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    # Debian's python3-selenium belongs to Debian's interpreter; another one
    # first on PATH (pyenv) lacks it.
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != \
            os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
    webdriver = None
DRIVER = shutil.which("chromedriver")
BROWSER = shutil.which("chromium")
FFMPEG = shutil.which("ffmpeg")
ROOT = ["--allow-root"] if os.geteuid() == 0 else []


def make_clip(path, seconds, gop=250):
    """H.264/AAC with the index at the front, as the publisher renders."""
    subprocess.run([FFMPEG, "-v", "error", "-y",
                    "-f", "lavfi", "-i", f"testsrc2=size=640x360:rate=25:duration={seconds}",
                    "-f", "lavfi", "-i", f"sine=frequency=440:duration={seconds}",
                    "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", str(gop),
                    "-c:a", "aac", "-b:a", "96k", "-movflags", "+faststart", "-shortest", path],
                   check=True, timeout=120)


def write_json(path, value):
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        json.dump(value, f, ensure_ascii=False)
    os.replace(path + ".tmp", path)


def publish(folder, seconds=4):
    """A folder with one FW playlist of one clip; returns (token, media name)."""
    for sub in ("media", "playlists"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    media = hashlib.sha256(folder.encode()).hexdigest() + ".mp4"
    make_clip(os.path.join(folder, "media", media), seconds)
    token = secrets.token_urlsafe(32)
    write_groups(folder, token)
    write_json(os.path.join(folder, "playlists", "7.json"), {
        "format": "rucktag-publish-playlist", "version": 1, "id": 7,
        "name": "ラインアウト 3試合", "groups": ["FW"], "revision": 1,
        "published": "2026-12-08T05:10:00Z",
        "items": [{"title": "ラインアウト 前半 12:34", "match": "2026-09-06 東京戦",
                   "matchTime": "前半 12:34", "note": "ジャンパーは前で取る",
                   "media": media, "duration": seconds}]})
    return token, media


def write_groups(folder, token):
    write_json(os.path.join(folder, "groups.json"), {
        "format": "rucktag-publish-groups", "version": 1,
        "groups": [{"name": "FW", "token": token, "created": "2026-12-08T05:00:00Z"}]})


def start_server(folder, log):
    """`rucktag serve` on a free port; returns (process, base URL)."""
    server = subprocess.Popen([BINARY, "serve", "--folder", folder, "--listen", "127.0.0.1:0",
                               *ROOT], stdout=subprocess.PIPE, stderr=log, text=True)
    line = server.stdout.readline()
    return server, line.strip().split(" at ")[-1].rstrip("/")


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = BROWSER
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--autoplay-policy=no-user-gesture-required"):
        options.add_argument(arg)
    # A phone's viewport (a headless window is never narrower than 500).
    options.add_experimental_option("mobileEmulation", {
        "deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 2, "touch": True}})
    return webdriver.Chrome(service=Service(DRIVER), options=options)


class ServePage(unittest.TestCase):
    def test_the_page_plays_and_a_revoked_link_finds_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            token, media = publish(folder)
            log_path = os.path.join(folder, "serve.log")
            with open(log_path, "w") as log:
                server, base = start_server(folder, log)
            driver = browser()
            try:
                driver.get(f"{base}/g/{token}/")
                self.assertEqual(driver.find_element(By.TAG_NAME, "html").get_attribute("lang"),
                                 "ja")
                self.assertEqual(driver.find_element(By.TAG_NAME, "h2").text, "ラインアウト 3試合")
                self.assertIn("ジャンパーは前で取る", driver.find_element(By.TAG_NAME, "li").text)
                video = driver.find_element(By.TAG_NAME, "video")
                # Fits the phone's width: no sideways scrolling.
                self.assertEqual(driver.execute_script("return window.innerWidth"), 390)
                self.assertLessEqual(driver.execute_script(
                    "return document.documentElement.scrollWidth"), 390)
                driver.execute_script("arguments[0].play()", video)
                wait = WebDriverWait(driver, 60)
                wait.until(lambda d: d.execute_script("return arguments[0].currentTime", video) > 0.5)
                driver.execute_script("arguments[0].pause(); arguments[0].currentTime = 3", video)
                wait.until(lambda d: d.execute_script(
                    "return !arguments[0].seeking && arguments[0].currentTime >= 3", video))
                if SCREENSHOT:
                    driver.save_screenshot(SCREENSHOT)
                with open(log_path) as f:
                    lines = f.read().splitlines()
                shown = f"/g/{token[:4]}.../m/{media}"
                self.assertTrue([l for l in lines if shown in l and " 206 " in l
                                 and "range=bytes=" in l], lines)
                self.assertFalse([l for l in lines if token in l])

                write_groups(folder, secrets.token_urlsafe(32))
                driver.get(f"{base}/g/{token}/")
                self.assertEqual(driver.find_element(By.TAG_NAME, "h1").text, "見つかりません")
            finally:
                driver.quit()
                self.check_exit_codes(folder, base.rsplit(":", 1)[1])
                server.send_signal(signal.SIGINT)
                self.assertEqual(server.wait(timeout=30), 0)
                server.stdout.close()

    def test_a_smart_cut_item_plays_through_its_joins(self):
        """12 s from 0.52 s of a source with 2-second GOPs: encoded to 2 s,
        copied to 12 s, encoded to its end; joins at 1.48 s and 11.48 s."""
        if not PUBLISH_BENCH:
            self.skipTest("publish_bench was not given or not built")
        with tempfile.TemporaryDirectory() as folder:
            make_clip(os.path.join(folder, "source.mp4"), 14, gop=50)
            made = subprocess.run([PUBLISH_BENCH, os.path.join(folder, "source.mp4"),
                                   os.path.join(folder, "pub"), "1", "12"],
                                  capture_output=True, text=True, timeout=300)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
            self.assertIn("smart cut, e encoded): c\n", made.stdout)
            with open(os.path.join(folder, "pub", "groups.json"), encoding="utf-8") as f:
                token = json.load(f)["groups"][0]["token"]
            with open(os.devnull, "w") as log:
                server, base = start_server(os.path.join(folder, "pub"), log)
            driver = browser()
            try:
                driver.get(f"{base}/g/{token}/")
                video = driver.find_element(By.TAG_NAME, "video")
                driver.execute_script("arguments[0].playbackRate = 4; arguments[0].play()", video)
                WebDriverWait(driver, 120).until(lambda d: d.execute_script(
                    "return arguments[0].ended || arguments[0].error", video))
                self.assertIsNone(driver.execute_script(
                    "return arguments[0].error && arguments[0].error.message", video))
                self.assertGreater(driver.execute_script("return arguments[0].currentTime", video),
                                   11.9)
            finally:
                driver.quit()
                server.send_signal(signal.SIGINT)
                self.assertEqual(server.wait(timeout=30), 0)
                server.stdout.close()

    def check_exit_codes(self, folder, port):
        """--help 0; a missing folder or a port in use 1; bad usage 2."""
        for args, code in ((["--help"], 0),
                           ([], 2),
                           (["--folder", folder], 2),
                           (["--folder", folder, "--listen", "127.0.0.1"], 2),
                           (["--folder", folder, "--listen", "127.0.0.1:0", "--what"], 2),
                           (["--folder", folder + "/none", "--listen", "127.0.0.1:0"], 1),
                           (["--folder", folder, "--listen", "127.0.0.1:" + port], 1)):
            r = subprocess.run([BINARY, "serve", *args, *ROOT], capture_output=True, text=True,
                               timeout=30)
            self.assertEqual(r.returncode, code, (args, r.stderr))
        if os.geteuid() == 0:
            r = subprocess.run([BINARY, "serve", "--folder", folder, "--listen", "127.0.0.1:0"],
                               capture_output=True, text=True, timeout=30)
            self.assertEqual(r.returncode, 1, r.stderr)


if __name__ == "__main__":
    if webdriver is None or not DRIVER or not BROWSER or not FFMPEG:
        print("skipped: python3-selenium, chromium, chromium-driver and ffmpeg are needed")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1])
