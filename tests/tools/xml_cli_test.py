#!/usr/bin/env python3
"""`rucktag xml export` and `rucktag xml import` as scripts use them (usage
errors and failures are in tests/cli, in process).

Usage: xml_cli_test.py RUCKTAG_BINARY GOLDEN_XML FIXTURES_DIR TAGGING_DRIVER
The export is read back by xml.etree, as another tool would read it; the
tagging driver is the running application recording a video.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

BINARY, GOLDEN, FIXTURES, DRIVER = sys.argv[1:5]
HEADER = "Team, INDEX, 再生時刻, タグ内容, コメント\n"
SESSION = (HEADER +
           'A,1,0:00:05,スクラム,"a & b <c>",5.5\n'
           'B,2,0:00:02,トライ,"",2.25,9.5,結果=成功;Player=10\n'
           'A,3,0:00:09,キック,"late",9.75\n')


def run(*args, state=None, env=None):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", **(env or {}))
    if state:
        env["XDG_STATE_HOME"] = state
    # No display is needed at all: unset it so a window could not open.
    env.pop("DISPLAY", None)
    return subprocess.run([BINARY, "xml", *args], capture_output=True, text=True, env=env,
                          timeout=60)


class XmlCommand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="rucktag-xml-cli-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as f:
            f.write(text)

    def read(self, name):
        with open(self.path(name), encoding="utf-8") as f:
            return f.read()

    def test_export_read_by_etree_and_clamped_to_the_video_beside(self):
        self.write("match.csv", SESSION)
        # A 10-second video of the same name: the last tag's moment ends at 10.
        shutil.copy(os.path.join(FIXTURES, "clip.mp4"), self.path("match.mp4"))
        # Options before, between and after the files.
        r = run("export", "--lead", "3", self.path("match.csv"), "--lag=2", self.path("out.xml"))
        self.assertEqual(r.returncode, 0, r.stderr)
        root = ET.parse(self.path("out.xml")).getroot()
        self.assertEqual(root.tag, "file")
        instances = root.findall("ALL_INSTANCES/instance")
        self.assertEqual([i.findtext("ID") for i in instances], ["1", "2", "3"])
        self.assertEqual([i.findtext("code") for i in instances], ["スクラム", "トライ", "キック"])
        self.assertEqual([(i.findtext("start"), i.findtext("end")) for i in instances],
                         [("2.5", "7.5"), ("0.0", "10.0"), ("6.75", "10.0")])
        for i in instances:
            float(i.findtext("start"))  # plain decimals
            self.assertLessEqual(float(i.findtext("start")), float(i.findtext("end")))
        self.assertEqual(instances[0].findtext("free_text"), "a & b <c>")
        labels = [(l.findtext("group"), l.findtext("text")) for l in instances[1].findall("label")]
        self.assertEqual(labels, [("Team", "B"), ("Rucktag", "t=2.25;e=9.5"), ("結果", "成功"),
                                  ("Player", "10")])
        rows = {r.findtext("code"): tuple(int(r.findtext(c)) for c in "RGB")
                for r in root.findall("ROWS/row")}
        self.assertEqual(set(rows), {"スクラム", "トライ", "キック"})
        for colour in rows.values():
            self.assertTrue(all(v % 257 == 0 and 0 <= v <= 65535 for v in colour), colour)

    def test_round_trip_through_the_command_line_then_merge_skips_what_is_there(self):
        self.write("match.csv", SESSION)
        self.assertEqual(run("export", self.path("match.csv"), self.path("out.xml")).returncode, 0)
        r = run("import", self.path("out.xml"), self.path("copy.csv"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("3 件のタグを読み込みました", r.stdout)
        # Same tags, in time order, every field as it was.
        want = sorted(SESSION.splitlines()[1:], key=lambda l: float(l.split(",")[5]))
        got = self.read("copy.csv").splitlines()
        self.assertEqual(got[0] + "\n", HEADER)
        def fields(line):  # all but INDEX, which the merge numbers anew
            team, _, rest = line.split(",", 2)
            return team, rest
        self.assertEqual([fields(l) for l in got[1:]], [fields(l) for l in want])
        # Imported again: nothing added, the file untouched, and told so.
        before = self.read("copy.csv")
        r = run("import", self.path("out.xml"), self.path("copy.csv"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("すでにある 3 件を飛ばしました", r.stdout)
        self.assertEqual(self.read("copy.csv"), before)

    def test_converter_file_merged_unknown_named_team_left_to_option(self):
        self.write("match.csv", HEADER + 'A,1,0:00:01,DG,"",1.0\n')
        r = run("import", GOLDEN, self.path("match.csv"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("<SESSION_INFO>", r.stdout)
        self.assertIn("12 行目", r.stdout)  # the bare '&'
        self.assertIn("3 件のタグを読み込みました", r.stdout)
        self.assertIn("Kick (1)", r.stdout)  # no team in the file
        lines = self.read("match.csv").splitlines()
        self.assertEqual(len(lines), 5)
        self.assertEqual(lines[1], 'A,1,0:00:01,DG,"",1.0')
        self.assertIn('A,4,0:12:32,スクラム,"Set & reset",752.36,764.36,'
                      '結果=成功;ラベル=Penalty;Rucktag=範囲', lines[4])
        r = run("import", "--team", "B", GOLDEN, self.path("match.csv"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("1 件のタグを読み込みました", r.stdout)
        self.assertIn("すでにある 3 件を飛ばしました", r.stdout)
        self.assertTrue(self.read("match.csv").splitlines()[-1].startswith("B,5,0:05:00,Kick,"))

    def test_export_refuses_what_is_not_a_session_and_files_it_did_not_write(self):
        self.write("match.csv", SESSION)
        self.write("other.csv", SESSION)
        shutil.copy(os.path.join(FIXTURES, "clip.mp4"), self.path("other.mp4"))
        self.write("notes.xml", "<notes>mine</notes>\n")
        # An edit list given as the session: refused, nothing written.
        self.assertEqual(run("export", self.path("match.csv"), self.path("out.xml")).returncode, 0)
        r = run("export", self.path("out.xml"), self.path("new.xml"))
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("セッションファイルではありません", r.stderr)
        self.assertFalse(os.path.exists(self.path("new.xml")))
        # Another session, a video, a file of someone else's: only with --force.
        for name in ("other.csv", "other.mp4", "notes.xml"):
            before = open(self.path(name), "rb").read()
            r = run("export", self.path("match.csv"), self.path(name))
            self.assertEqual(r.returncode, 1, name)
            self.assertIn("--force", r.stderr)
            self.assertEqual(open(self.path(name), "rb").read(), before, name)
        r = run("export", self.path("match.csv"), self.path("notes.xml"), "--force")
        self.assertEqual(r.returncode, 0, r.stderr)
        # Its own edit list it replaces.
        r = run("export", "--lead=1", self.path("match.csv"), self.path("out.xml"))
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_export_colours_codes_by_the_window_named(self):
        self.write("match.csv", SESSION)
        config = self.path("config")
        os.makedirs(os.path.join(config, "rucktag", "codewindows"))
        with open(os.path.join(config, "rucktag", "codewindows", "w.json"), "w") as f:
            f.write('{"format": "rucktag-codewindow", "version": 1, "name": "七人制", "codes": '
                    '[{"name": "スクラム", "color": "#010203", "lead": 1, "lag": 1}]}')
        env = {"XDG_CONFIG_HOME": config}
        r = run("export", self.path("match.csv"), self.path("out.xml"), "--window", "七人制",
                env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        root = ET.parse(self.path("out.xml")).getroot()
        rows = {r.findtext("code"): tuple(int(r.findtext(c)) for c in "RGB")
                for r in root.findall("ROWS/row")}
        self.assertEqual(rows["スクラム"], (257, 514, 771))
        first = root.find("ALL_INSTANCES/instance")
        self.assertEqual((first.findtext("start"), first.findtext("end")), ("4.5", "6.5"))
        r = run("export", self.path("match.csv"), self.path("out.xml"), "--window", "ない",
                env=env)
        self.assertEqual(r.returncode, 1)
        self.assertIn("コードウィンドウ「ない」がありません", r.stderr)

    def test_import_tells_hostile_times_and_the_end_of_the_video(self):
        shutil.copy(os.path.join(FIXTURES, "clip.mp4"), self.path("match.mp4"))
        hostile = os.path.join(os.path.dirname(GOLDEN), "hostile", "bad-times.xml")
        r = run("import", "--team", "A", hostile, self.path("match.csv"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("3 件のタグを読み込みました", r.stdout)
        self.assertIn("動画の終わりより後に始まるインスタンスを読みませんでした: 1 件", r.stdout)
        self.assertIn("7 件", r.stdout)
        self.assertNotIn("nan", self.read("match.csv").lower())
        self.assertNotIn("inf", self.read("match.csv").lower())
        # Larger than a file may be: refused before it is read.
        with open(self.path("big.xml"), "wb") as f:
            f.truncate(500 << 20)
        r = run("import", self.path("big.xml"), self.path("match.csv"))
        self.assertEqual(r.returncode, 1)
        self.assertIn("ファイルが大きすぎるため", r.stderr)

    def test_import_refused_while_a_window_records_the_video_told_of_a_crashed_run(self):
        shutil.copy(os.path.join(FIXTURES, "clip.mp4"), self.path("match.mp4"))
        self.write("match.csv", SESSION)
        # Four instances within the video's 10 seconds.
        self.write("small.xml", "<file><ALL_INSTANCES>" + "".join(
            f"<instance><start>{t}</start><code>X</code></instance>" for t in (1, 2, 3, 4))
                   + "</ALL_INSTANCES></file>")
        small = self.path("small.xml")
        state = self.path("state")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_STATE_HOME=state)
        driver = subprocess.Popen([DRIVER, self.path("match.mp4"), "20"], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True, env=env)
        try:
            pressed = 0
            for line in driver.stdout:  # the window records tags
                pressed += line.startswith("T ")
                if pressed >= 3:
                    break
            self.assertGreaterEqual(pressed, 3)
            r = run("import", small, self.path("match.csv"), "--team", "A", state=state)
            self.assertEqual(r.returncode, 1, r.stdout)
            self.assertIn("実行中の Rucktag で記録中です", r.stderr)
            self.assertIn("running Rucktag", r.stderr)
            self.assertEqual(self.read("match.csv"), SESSION)
            # Nor does an export write over its session file or video, even forced.
            self.write("src.csv", SESSION)
            for target in ("match.csv", "match.mp4"):
                r = run("export", "--force", self.path("src.csv"), self.path(target), state=state)
                self.assertEqual(r.returncode, 1, target)
                self.assertIn("記録中です", r.stderr)
            self.assertEqual(self.read("match.csv"), SESSION)
        finally:
            driver.send_signal(signal.SIGKILL)
            driver.wait(30)
            driver.stdout.close()
        # Killed: its journal is left, and the import goes on saying so.
        r = run("import", small, self.path("match.csv"), "--team", "A", state=state)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("保存せずに終わった変更が残っています", r.stderr)
        self.assertIn("4 件のタグを読み込みました", r.stdout)
        self.assertEqual(len(self.read("match.csv").splitlines()), 8)
        # Another video's journal says nothing of this one.
        shutil.copy(os.path.join(FIXTURES, "clip.mp4"), self.path("other.mp4"))
        r = run("import", small, self.path("other.csv"), "--team", "A", state=state)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
