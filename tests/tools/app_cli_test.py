#!/usr/bin/env python3
"""`rucktag --help`, `--version` and an unknown option, without a display.

Usage: app_cli_test.py RUCKTAG_BINARY VERSION
Each answers on the terminal before any window: no display is given, and Qt
would abort (exit 134) if one were asked for.
"""
import os
import subprocess
import sys
import unittest

BINARY = sys.argv[1]
VERSION = sys.argv[2]


def run(*args):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    return subprocess.run([BINARY, *args], capture_output=True, text=True, env=env, timeout=30)


class CommandLine(unittest.TestCase):
    def test_help_and_version_answer_without_a_window(self):
        for option in ("--help", "-h"):
            r = run(option)
            self.assertEqual((r.returncode, r.stderr), (0, ""), option)
            self.assertIn("使い方 / Usage:", r.stdout)
            self.assertIn("rucktag xml", r.stdout)
            self.assertIn("rucktag library", r.stdout)
        r = run("--version")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "rucktag " + VERSION + "\n", ""))

    def test_an_unknown_option_gets_the_usage_and_exit_2(self):
        for args in (["--helpp"], ["-x"], ["a.mp4", "b.mp4"]):
            r = run(*args)
            self.assertEqual((r.returncode, r.stdout), (2, ""), args)
            self.assertIn("使い方 / Usage:", r.stderr)
        self.assertIn("unknown option: --helpp", run("--helpp").stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
