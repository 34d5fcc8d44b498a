#!/usr/bin/env python3
"""`rucktag library add/scan/search` as scripts use them.

Usage: library_cli_test.py RUCKTAG_BINARY [PG_SOCKET_DIR]
The --json output is read back by the json module, one object a line. With a
socket folder of a running throwaway server the same runs on PostgreSQL.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import uuid

BINARY = sys.argv[1]
PG_DIR = sys.argv[2] if len(sys.argv) > 2 else ""
HEADER = "Team, INDEX, 再生時刻, タグ内容, コメント\n"
SESSION = (HEADER +
           'A,1,0:00:05,スクラム,"右 100%_x",5.5\n'
           'B,2,0:00:09,トライ,"良い",9.25,12.5,結果=成功;選手=10\n'
           'A,3,0:00:12,スクラム,"",12.75\n')


def run(*args, env=None):
    full = dict(os.environ)
    full.pop("DISPLAY", None)  # no window may open
    full.pop("RUCKTAG_LIBRARY", None)
    full.update(env or {})
    return subprocess.run([BINARY, "library", *args], capture_output=True, text=True, env=full,
                          timeout=60)


def listing(folder):
    out = []
    for root, dirs, files in os.walk(folder):
        out += [os.path.join(root, f) for f in files + dirs]
    return sorted(out)


class Library:
    def database(self):
        return os.path.join(self.dir, "data", "library.sqlite")

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="rucktag-library-cli-")
        self.videos = os.path.join(self.dir, "videos")
        os.makedirs(os.path.join(self.videos, "april"))
        self.stem = os.path.join(self.videos, "april", "2026-04-12 早稲田 vs 明治")
        with open(self.stem + ".mp4", "wb") as f:
            f.write(os.urandom(200000))
        with open(self.stem + ".csv", "w", encoding="utf-8") as f:
            f.write(SESSION)
        self.db = self.database()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def search(self, *args):
        r = run("search", *args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return [json.loads(line) for line in r.stdout.splitlines()]

    def test_json_read_back_with_options_anywhere(self):
        before = listing(self.videos)
        r = run("--database", self.db, "add", self.videos)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("added 1", r.stdout)
        # Options before, between and after, with and without '='.
        hits = self.search("--json", "--code", "スクラム", "--database=" + self.db, "--team", "A")
        self.assertEqual(len(hits), 2)
        first = hits[0]
        self.assertEqual(first["video"], self.stem + ".mp4")
        self.assertEqual(first["session"], self.stem + ".csv")
        self.assertTrue(os.path.isabs(first["video"]))
        self.assertEqual(first["time"], 5.5)
        self.assertIsNone(first["end"])
        self.assertEqual(first["team"], "A")
        self.assertEqual(first["code"], "スクラム")
        self.assertEqual(first["labels"], {})
        self.assertEqual(first["comment"], "右 100%_x")
        self.assertEqual(hits[1]["time"], 12.75)

        hits = self.search("--database", self.db, "--label", "結果=成功", "--json")
        self.assertEqual(len(hits), 1)
        self.assertEqual(hits[0]["end"], 12.5)
        self.assertEqual(hits[0]["team"], "B")
        self.assertEqual(hits[0]["labels"], {"結果": "成功", "選手": "10"})
        # One Japanese character, and % _ as themselves.
        self.assertEqual(len(self.search("--text", "良", "--json", "--database", self.db)), 1)
        self.assertEqual(len(self.search("--text", "0%_", "--json", "--database", self.db)), 1)
        self.assertEqual(len(self.search("--text", "1%x", "--json", "--database", self.db)), 0)

        # Scanning twice changes nothing; the table is Japanese.
        for _ in range(2):
            r = run("scan", "--database", self.db)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("unchanged 1", r.stdout)
        r = run("search", "--team", "B", "--database", self.db)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("コード", r.stdout)
        self.assertIn("トライ", r.stdout)
        self.assertIn("早稲田 vs 明治", r.stdout)
        self.assertRegex(r.stdout.splitlines()[-1], r"^\d+ 件$")
        # Nothing written beside the videos.
        self.assertEqual(listing(self.videos), before)

    def test_nothing_found_prints_nothing(self):
        self.assertEqual(run("add", self.videos, "--database", self.db).returncode, 0)
        r = run("search", "--code", "ない", "--database", self.db)
        self.assertEqual((r.returncode, r.stdout), (0, ""))
        r = run("search", "--code", "ない", "--json", "--database", self.db)
        self.assertEqual((r.returncode, r.stdout), (0, ""))


class SqliteLibrary(Library, unittest.TestCase):
    def test_default_place_and_refusals(self):
        data = os.path.join(self.dir, "xdg")
        r = run("add", self.videos, env={"XDG_DATA_HOME": data})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.exists(os.path.join(data, "rucktag", "library.sqlite")))
        r = run("search", "--json", env={"XDG_DATA_HOME": data})
        self.assertEqual(len(r.stdout.splitlines()), 3)
        # RUCKTAG_LIBRARY names another one.
        other = os.path.join(self.dir, "other.sqlite")
        r = run("search", "--json", env={"XDG_DATA_HOME": data, "RUCKTAG_LIBRARY": other})
        self.assertEqual((r.returncode, r.stdout), (0, ""))

        r = run("search", "--database", "postgresql:///season?host=/nonexistent&user=x")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("サーバーにつながりません", r.stderr)
        self.assertEqual(r.stdout, "")
        r = run("add", os.path.join(self.dir, "nowhere"), "--database", self.db)
        self.assertEqual(r.returncode, 1)
        self.assertIn("フォルダーが見つかりません", r.stderr)
        r = run("search", "--team", "C", "--database", self.db)
        self.assertEqual(r.returncode, 2)
        self.assertIn("--team", r.stderr)
        r = run("search", "--colour", "red", "--database", self.db)
        self.assertEqual(r.returncode, 2)
        self.assertIn("Usage", r.stderr)
        r = run("add", "--database", self.db)
        self.assertEqual(r.returncode, 2)


@unittest.skipUnless(PG_DIR and os.path.exists(os.path.join(PG_DIR, ".s.PGSQL.5432")),
                     "no throwaway PostgreSQL server given")
class PostgresLibrary(Library, unittest.TestCase):
    def database(self):
        name = "cli_" + uuid.uuid4().hex[:12]
        psql = sorted(p for p in os.listdir("/usr/lib/postgresql"))[-1]
        subprocess.run(["/usr/lib/postgresql/%s/bin/createdb" % psql, "-h", PG_DIR, "-U",
                        "postgres", name], check=True)
        return "postgresql:///%s?host=%s&user=postgres" % (name, PG_DIR)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
