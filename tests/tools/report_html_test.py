#!/usr/bin/env python3
"""`rucktag report` without a display, its HTML page opened in headless Chromium.

Usage: report_html_test.py RUCKTAG_BINARY
The page must load without a console error, and show the score and the
counts this script works out from the session it wrote. Exits 77 (skipped)
when Selenium, Chromium or its driver is missing.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

BINARY = sys.argv[1]
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    # Debian's python3-selenium belongs to Debian's interpreter; another one
    # first on PATH (pyenv) lacks it.
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != \
            os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
    webdriver = None
DRIVER = shutil.which("chromedriver")
BROWSER = shutil.which("chromium")

POINTS = {"トライ": 5, "コンバージョン": 2, "PG": 3}
CODES = ["トライ", "コンバージョン", "PG", "スクラム", "タックル"]


def write_session(folder):
    """A seeded session and its match file; returns (score, counts per code)."""
    rng = random.Random(7)
    score = {"A": 0, "B": 0}
    counts = {}
    lines = ["Team, INDEX, 再生時刻, タグ内容, コメント\n"]
    for i in range(120):
        team, code, t = rng.choice("AB"), rng.choice(CODES), rng.uniform(0, 5400)
        result = rng.choice(["成功", "失敗", ""])
        if result != "失敗":
            score[team] += POINTS.get(code, 0)
        counts.setdefault(code, {"A": 0, "B": 0})[team] += 1
        clock = "%d:%02d:%02d" % (t // 3600, t % 3600 // 60, t % 60)
        extra = ",%.1f,,結果=%s" % (t, result) if result else ",%.1f" % t
        lines.append('%s,%d,%s,%s,""%s\n' % (team, i + 1, clock, code, extra))
    with open(os.path.join(folder, "m.csv"), "w", encoding="utf-8") as f:
        f.writelines(lines)
    with open(os.path.join(folder, "m.match.json"), "w", encoding="utf-8") as f:
        f.write('{"format": "rucktag-match", "version": 1, "teams": {"A": "赤組", "B": "白組"}}\n')
    return score, counts


class ReportPage(unittest.TestCase):
    def test_the_page_loads_cleanly_and_shows_the_figures(self):
        with tempfile.TemporaryDirectory() as folder:
            score, counts = write_session(folder)
            env = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
            html = os.path.join(folder, "m.html")
            r = subprocess.run([BINARY, "report", os.path.join(folder, "m.csv"),
                                os.path.join(folder, "m.pdf"), "--html", html],
                               capture_output=True, text=True, env=env, timeout=120)
            self.assertEqual(r.returncode, 0, r.stderr)

            options = webdriver.ChromeOptions()
            options.binary_location = BROWSER
            for arg in ("--headless=new", "--no-sandbox", "--disable-gpu",
                        "--disable-dev-shm-usage"):
                options.add_argument(arg)
            options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
            driver = webdriver.Chrome(service=Service(DRIVER), options=options)
            try:
                driver.get("file://" + html)
                self.assertEqual(driver.find_element(By.TAG_NAME, "html").get_attribute("lang"),
                                 "ja")
                errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
                self.assertEqual(errors, [])
                self.assertEqual(driver.find_element(By.ID, "score").text,
                                 "赤組 %d - %d 白組" % (score["A"], score["B"]))
                rows = {}
                for tr in driver.find_elements(By.CSS_SELECTOR, "tr"):
                    cells = [td.text for td in tr.find_elements(By.TAG_NAME, "td")]
                    if cells and cells[0] in counts and len(cells) == 4:
                        rows.setdefault(cells[0], cells[1:])  # the counts come first
                for code, n in counts.items():
                    self.assertEqual(rows.get(code), [str(n["A"]), str(n["B"]),
                                                      str(n["A"] + n["B"])], code)
                # The charts are there as SVG: the timeline and the blocks.
                self.assertGreaterEqual(len(driver.find_elements(By.TAG_NAME, "svg")), 2)
            finally:
                driver.quit()


if __name__ == "__main__":
    if webdriver is None or not DRIVER or not BROWSER:
        print("skipped: python3-selenium, chromium and chromium-driver are needed")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1])
