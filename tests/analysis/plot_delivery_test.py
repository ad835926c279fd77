#!/usr/bin/env python3
"""End-to-end tests of tools/analysis/plot_delivery.py on hand-made databases.

The expected numbers are worked out by hand from make_sample_db.py's runs,
not by the code under test.
"""

import csv
import math
import os
import pathlib
import stat
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
PLOT = HERE.parent.parent / "tools" / "analysis" / "plot_delivery.py"
sys.path.insert(0, str(HERE))
import make_sample_db  # noqa: E402

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def plot(*args):
    return subprocess.run([sys.executable, str(PLOT), *map(str, args)],
                          capture_output=True, text=True, timeout=120)


def read_summary(path):
    with open(path, newline="") as file:
        return {(row["series"], float(row["link_p"])): row for row in csv.DictReader(file)}


class PlotDelivery(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = pathlib.Path(self.folder.name)

    def tearDown(self):
        self.folder.cleanup()

    def assert_point(self, row, runs, mean, sd):
        self.assertEqual(int(row["runs"]), runs)
        self.assertAlmostEqual(float(row["mean"]), mean, places=9)
        self.assertAlmostEqual(float(row["sd"]), sd, places=9)

    def test_ratios_sum_known_motes_and_leave_out_failed_and_unknown_runs(self):
        db = self.dir / "sweep.sqlite"
        make_sample_db.write(db)
        before = db.read_bytes()
        out, summary = self.dir / "plot.png", self.dir / "summary.csv"

        old_umask = os.umask(0o022)
        try:
            done = plot(db, "--out", out, "--summary", summary)
        finally:
            os.umask(old_umask)

        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(out.read_bytes()[:8], PNG_SIGNATURE)
        self.assertEqual(stat.S_IMODE(out.stat().st_mode), 0o644)  # as any file written under umask 022
        self.assertGreater(out.stat().st_size, 10_000)  # axes, points and labels, not a blank image
        self.assertEqual(db.read_bytes(), before)  # read, never written
        points = read_summary(summary)
        self.assertEqual(len(points), 3)
        self.assert_point(points[("", 0.0)], 3, 1.0, 0.0)
        # runs of 38/40 and 10/20: mean 0.725, sample sd 0.225 * sqrt(2)
        self.assert_point(points[("", 0.002)], 2, 0.725, 0.225 * math.sqrt(2))
        # runs of 2/10 and 4/10; the run with nothing known and the one expecting nothing are out
        self.assert_point(points[("", 0.008)], 2, 0.3, 0.1 * math.sqrt(2))
        self.assertIn("1 failed run(s) left out", done.stderr)
        self.assertIn("2 run(s) with no known expected count left out", done.stderr)
        self.assertIn("0.002     2 0.7250 0.3182", done.stdout)

    def test_other_varied_parameters_make_series_of_their_own(self):
        db = self.dir / "sweep.sqlite"
        make_sample_db.write(db, second_size=True)
        summary = self.dir / "summary.csv"

        done = plot(db, "--out", self.dir / "plot.png", "--summary", summary)

        self.assertEqual(done.returncode, 0, done.stderr)
        points = read_summary(summary)
        self.assertEqual(sorted(points), [("motes=4", 0.0), ("motes=4", 0.002), ("motes=4", 0.008),
                                          ("motes=8", 0.0)])
        self.assert_point(points[("motes=4", 0.0)], 3, 1.0, 0.0)
        self.assert_point(points[("motes=8", 0.0)], 2, 0.6, 0.1 * math.sqrt(2))

    def test_refusals_exit_2_and_leave_files_alone(self):
        out = self.dir / "plot.png"
        out.write_bytes(b"an older plot")

        missing = plot(self.dir / "typo.sqlite", "--out", out)
        self.assertEqual(missing.returncode, 2)
        self.assertIn("typo.sqlite: no such database file", missing.stderr)
        self.assertFalse((self.dir / "typo.sqlite").exists())  # not created by opening it

        db = self.dir / "sweep.sqlite"
        make_sample_db.write(db)
        other_axis = plot(db, "--out", out, "--x", "period")
        self.assertEqual(other_axis.returncode, 2)
        self.assertIn("no run has the parameter 'period' (parameters in this database: "
                      "link_p, motes, query, seed)", other_axis.stderr)

        not_a_sweep = self.dir / "notes.sqlite"
        not_a_sweep.write_bytes(b"plain text, not a database" * 100)
        garbage = plot(not_a_sweep, "--out", out)
        self.assertEqual(garbage.returncode, 2)
        self.assertIn("not an SQLite database", garbage.stderr)

        self.assertEqual(out.read_bytes(), b"an older plot")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()),
                         ["notes.sqlite", "plot.png", "sweep.sqlite"])  # no temporary left behind


if __name__ == "__main__":
    unittest.main()
