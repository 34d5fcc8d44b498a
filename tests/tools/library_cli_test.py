#!/usr/bin/env python3
"""`rucktag library add/scan/search` as scripts use them (usage errors and
failures are in tests/cli, in process).

Usage: library_cli_test.py RUCKTAG_BINARY [PG_SOCKET_DIR]
The --json output is read back by the json module, one object a line. With a
socket folder of a running throwaway server the same runs on PostgreSQL.
"""
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import uuid

BINARY = sys.argv[1]
PG_DIR = sys.argv[2] if len(sys.argv) > 2 else ""
HEADER = "Team, INDEX, 再生時刻, タグ内容, コメント\n"
SESSION = (HEADER +
           'A,1,0:00:05,スクラム,"右 100%_x",5.5\n'
           'B,2,0:00:09,トライ,"良い",9.25,12.5,結果=成功;選手=10\n'
           'A,3,0:00:12,スクラム,"",12.75\n')


# A library as the first version made it, with one full-width comment.
V1_SCHEMA = """
CREATE TABLE schema_version (version INTEGER NOT NULL);
INSERT INTO schema_version VALUES (1);
CREATE TABLE folders (id INTEGER PRIMARY KEY, path TEXT NOT NULL UNIQUE);
CREATE TABLE matches (id INTEGER PRIMARY KEY, video TEXT NOT NULL, canonical TEXT NOT NULL UNIQUE,
  video_size INTEGER NOT NULL, video_mtime INTEGER NOT NULL, video_identity TEXT NOT NULL,
  session TEXT NOT NULL, session_size INTEGER NOT NULL, session_mtime INTEGER NOT NULL,
  session_hash TEXT NOT NULL, title TEXT NOT NULL, date TEXT NOT NULL,
  info_edited INTEGER NOT NULL DEFAULT 0, tag_count INTEGER NOT NULL DEFAULT 0);
CREATE TABLE tags (id INTEGER PRIMARY KEY, match_id INTEGER NOT NULL REFERENCES matches (id)
  ON DELETE CASCADE, position INTEGER NOT NULL, team INTEGER NOT NULL, start_time REAL NOT NULL,
  end_time REAL, code TEXT NOT NULL, labels TEXT NOT NULL, comment TEXT NOT NULL);
CREATE TABLE tag_labels (tag_id INTEGER NOT NULL REFERENCES tags (id) ON DELETE CASCADE,
  grp TEXT NOT NULL, text TEXT NOT NULL);
CREATE VIRTUAL TABLE tags_fts USING fts5 (comment, content='tags', content_rowid='id',
  tokenize='trigram');
INSERT INTO matches VALUES (1, '/v/m.mp4', '/v/m.mp4', 1, 1, 'x', '/v/m.csv', 1, 1, 'h', 'm',
  '2026-04-12', 0, 1);
INSERT INTO tags VALUES (1, 1, 0, 1, 5.5, NULL, 'x', '', 'ａｂｃ の形');
INSERT INTO tags_fts (rowid, comment) VALUES (1, 'ａｂｃ の形');
"""


def run(*args, env=None, prefix=()):
    full = dict(os.environ)
    full.pop("DISPLAY", None)  # no window may open
    full.pop("RUCKTAG_LIBRARY", None)
    full.update(env or {})
    return subprocess.run([*prefix, BINARY, "library", *args], capture_output=True, text=True,
                          env=full, timeout=60)


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
        with open(self.stem + ".match.json", "w", encoding="utf-8") as f:
            json.dump({"format": "rucktag-match", "version": 1,
                       "teams": {"A": "早稲田", "B": "明治"},
                       "periods": [{"name": "前半", "start": 0.5, "end": None, "clock": 0}]}, f)
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
        self.assertEqual([first["matchTime"], hits[1]["matchTime"]], ["前半 0:05", "前半 0:12"])
        self.assertEqual(first["teams"], ["早稲田", "明治"])

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
        self.assertRegex(r.stdout.splitlines()[0], "試合時間 +チーム名$")
        self.assertIn("トライ", r.stdout)
        self.assertIn("早稲田 vs 明治", r.stdout)
        self.assertRegex(r.stdout.splitlines()[-1], r"^\d+ 件$")
        # Nothing written beside the videos.
        self.assertEqual(listing(self.videos), before)

    def test_escaped_groups(self):
        with open(self.stem + ".csv", "a", encoding="utf-8") as f:
            f.write('A,4,0:00:15,ラック,"",15.0,16.0,a\\=b=c=d\n'
                    'B,5,0:00:20,タックル,"",20.0,21.0,選手=12 山田\n')
        self.assertEqual(run("add", self.videos, "--database", self.db).returncode, 0)
        hits = self.search("--label", "a\\=b=c=d", "--json", "--database", self.db)
        self.assertEqual([h["labels"] for h in hits], [{"a=b": "c=d"}])
        # A player's text holds a space: one quoted value.
        hits = self.search("--label", "選手=12 山田", "--json", "--database", self.db)
        self.assertEqual([h["code"] for h in hits], ["タックル"])


class SqliteLibrary(Library, unittest.TestCase):
    def test_default_place(self):
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

    def more(self):
        other = os.path.join(self.dir, "more")
        os.makedirs(other)
        shutil.copy(self.stem + ".mp4", os.path.join(other, "2026-05-01 x.mp4"))
        shutil.copy(self.stem + ".csv", os.path.join(other, "2026-05-01 x.csv"))
        return other

    def test_a_held_library_is_waited_for_then_its_holder_named(self):
        self.assertEqual(run("add", self.videos, "--database", self.db).returncode, 0)
        other = self.more()
        holder = sqlite3.connect(self.db, isolation_level=None, check_same_thread=False)
        holder.execute("BEGIN IMMEDIATE")
        try:
            r = run("add", other, "--database", self.db,
                    env={"RUCKTAG_LIBRARY_BUSY_SECONDS": "2"})
            self.assertEqual(r.returncode, 1, r.stdout)
            self.assertIn("別のプロセス (pid %d" % os.getpid(), r.stderr)
            # Let go after 6 s: the usual wait outlasts it.
            release = threading.Timer(6, lambda: holder.execute("COMMIT"))
            release.start()
            start = time.monotonic()
            r = run("add", other, "--database", self.db)
            release.join()
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertGreater(time.monotonic() - start, 5)
            self.assertIn("added 1", r.stdout)
        finally:
            holder.close()

    def test_a_first_version_library_is_searched_after_its_upgrade(self):
        os.makedirs(os.path.dirname(self.db))
        con = sqlite3.connect(self.db)
        con.executescript(V1_SCHEMA)
        con.close()
        hits = self.search("--json", "--text", "ＡＢＣ", "--database", self.db)
        self.assertEqual([h["comment"] for h in hits], ["ａｂｃ の形"])

    def test_eight_adds_at_once(self):
        folders = []
        for i in range(8):
            folder = os.path.join(self.dir, "f%d" % i)
            os.makedirs(folder)
            for m in range(3):
                stem = os.path.join(folder, "2026-05-%02d m%d" % (m + 1, i))
                with open(stem + ".mp4", "wb") as f:
                    f.write(os.urandom(4096))
                shutil.copy(self.stem + ".csv", stem + ".csv")
            folders.append(folder)
        full = dict(os.environ, DISPLAY="")
        procs = [subprocess.Popen([BINARY, "library", "add", f, "--database", self.db],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                  env=full) for f in folders]
        for p in procs:
            out, err = p.communicate(timeout=120)
            self.assertEqual(p.returncode, 0, err)
        self.assertEqual(len(self.search("--json", "--database", self.db)), 8 * 3 * 3)

    @unittest.skipUnless(os.geteuid() != 0 or shutil.which("setpriv"),
                         "root without setpriv cannot meet a read-only file")
    def test_a_read_only_library_can_be_searched(self):
        self.assertEqual(run("add", self.videos, "--database", self.db).returncode, 0)
        data = os.path.dirname(self.db)
        os.chmod(self.db, 0o444)
        os.chmod(data, 0o555)
        os.chmod(self.dir, 0o755)
        before = sorted(os.listdir(data))
        # Root writes anything: search as nobody.
        prefix = (["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
                  if os.geteuid() == 0 else [])
        try:
            r = run("search", "--json", "--text", "良", "--database", self.db, prefix=prefix)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(len(r.stdout.splitlines()), 1)
            self.assertEqual(sorted(os.listdir(data)), before)
        finally:
            os.chmod(data, 0o755)


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
