#!/usr/bin/env python3
"""Writes a small hand-made sweep database for the analysis tests.

The tables are those a sweep writes (runs, results, delivery, meta); the
runs are chosen so that every rule of the delivery ratio shows in the
numbers: motes summed rather than their ratios averaged, unknown counts
left out, failed runs left out, a run with nothing known left out.

Usage: make_sample_db.py OUT.sqlite [--second-size]
--second-size adds two runs with motes=8, for a plot of two series.
"""

import json
import pathlib
import sqlite3
import sys

SCHEMA = """
CREATE TABLE runs(run_id TEXT PRIMARY KEY, experiment TEXT, parameters TEXT, seed INTEGER,
                  brelo_version TEXT, brelo_commit TEXT, command_line TEXT, status TEXT,
                  exit_status INTEGER, error_output TEXT, wall_seconds REAL, events INTEGER,
                  virtual_seconds REAL, statistics TEXT, finished_at TEXT);
CREATE TABLE results(run_id TEXT NOT NULL REFERENCES runs(run_id), time REAL, mote INTEGER,
                     timestamp INTEGER, epoch INTEGER, fields TEXT);
CREATE INDEX results_run ON results(run_id);
CREATE TABLE delivery(run_id TEXT NOT NULL, mote INTEGER, expected INTEGER, received INTEGER);
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);
"""

# (link_p, seed, status, [(mote, expected, received), ...]); None is NULL.
RUNS = [
    (0, 1, "done", [(1, 10, 10), (2, 10, 10), (3, 10, 10)]),
    (0, 2, "done", [(1, 10, 10), (2, 10, 10), (3, 10, 10)]),
    (0, 3, "done", [(1, 10, 10), (2, 10, 10), (3, 10, 10)]),
    # 38 of 40 (the motes' own ratios, 0.8 and 1.0, would average 0.9)
    (0.002, 1, "done", [(1, 10, 8), (2, 30, 30)]),
    # 10 of 20: mote 2's unknown expectation counts on neither side
    (0.002, 2, "done", [(1, 20, 10), (2, None, 7), (3, 5, None)]),
    (0.002, 3, "failed", []),
    (0.008, 1, "done", [(1, 10, 2)]),
    (0.008, 2, "done", [(1, None, 3), (2, None, 1)]),  # nothing known: left out
    (0.008, 3, "done", [(1, 10, 4)]),
    (0.008, 4, "done", [(1, 0, 0)]),  # expected nothing: no ratio
]

# With --second-size: motes=8 at link_p 0 only, 5 of 10 and 7 of 10.
SECOND_SIZE_RUNS = [
    (0, 1, "done", [(1, 10, 5)]),
    (0, 2, "done", [(1, 10, 7)]),
]


def create_schema(conn):
    conn.executescript(SCHEMA)
    conn.executemany("INSERT INTO meta VALUES (?, ?)",
                     [("experiment_file", "delivery_vs_links.exp"),
                      ("experiment_hash", "sample"), ("schema_version", "1")])


def insert_run(conn, experiment, parameters, status, delivery):
    run_id = ",".join(f"{name}={value}" for name, value in parameters.items())
    conn.execute("INSERT INTO runs (run_id, experiment, parameters, seed, status, exit_status, "
                 "error_output, wall_seconds, events, virtual_seconds) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                 (run_id, experiment, json.dumps(parameters), parameters["seed"], status,
                  0 if status == "done" else 3, "" if status == "done" else "brelo-ctl: brelo went away",
                  0.5, 123456, 60.0 if status == "done" else 12.5))
    conn.executemany("INSERT INTO delivery VALUES (?, ?, ?, ?)",
                     [(run_id, mote, expected, received) for mote, expected, received in delivery])
    # A result row per record received by a known mote, so the results table is not empty.
    conn.executemany("INSERT INTO results VALUES (?, ?, ?, ?, ?, ?)",
                     [(run_id, 2.0 + i, mote, i, 0, json.dumps({"light": 100}))
                      for mote, _, received in delivery for i in range(received or 0)])


def write(path, second_size=False):
    path = pathlib.Path(path)
    path.unlink(missing_ok=True)
    with sqlite3.connect(path) as conn:
        create_schema(conn)
        sizes = [(4, RUNS)] + ([(8, SECOND_SIZE_RUNS)] if second_size else [])
        for motes, runs in sizes:
            for link_p, seed, status, delivery in runs:
                parameters = {"query": "collection", "motes": motes, "seed": seed, "link_p": link_p}
                insert_run(conn, "delivery_vs_links", parameters, status, delivery)
    conn.close()


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3) or (len(sys.argv) == 3 and sys.argv[2] != "--second-size"):
        sys.exit(__doc__)
    write(sys.argv[1], second_size=len(sys.argv) == 3)
