"""Reading a sweep's SQLite database into pandas.

The database is opened read-only: an analysis never changes the record of
an experiment, and a mistyped path is reported instead of silently creating
an empty database file.
"""

import json
import pathlib
import sqlite3

import pandas as pd

SCHEMA_VERSION = "1"


class DatabaseError(Exception):
    """The file is missing, is not a sweep database, or has another schema."""


def open_read_only(path):
    db_path = pathlib.Path(path)
    if not db_path.is_file():
        raise DatabaseError(f"{path}: no such database file")
    # A file: URI with mode=ro never creates or writes the file; as_uri
    # percent-encodes characters such as '?' and '#' in the path.
    uri = db_path.resolve().as_uri() + "?mode=ro"
    try:
        conn = sqlite3.connect(uri, uri=True)
        tables = {row[0] for row in conn.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
    except sqlite3.DatabaseError as error:
        raise DatabaseError(f"{path}: not an SQLite database ({error})") from None
    missing = {"runs", "delivery", "meta"} - tables
    if missing:
        conn.close()
        raise DatabaseError(f"{path}: not a sweep database (no table {', '.join(sorted(missing))})")
    version = meta(conn).get("schema_version")
    if version is not None and str(version) != SCHEMA_VERSION:
        conn.close()
        raise DatabaseError(f"{path}: schema version {version}; this tool reads version {SCHEMA_VERSION}")
    return conn


def meta(conn):
    """The meta table as a dict (experiment_file, experiment_hash, schema_version)."""
    return dict(conn.execute("SELECT key, value FROM meta").fetchall())


def runs(conn):
    """One row per run: run_id (index), experiment, status, exit_status, seed, ..."""
    return pd.read_sql("SELECT run_id, experiment, seed, status, exit_status, wall_seconds, events, "
                       "virtual_seconds FROM runs ORDER BY run_id", conn, index_col="run_id")


def parameters(conn):
    """One row per run (index run_id), one column per parameter any run has.

    A parameter a run does not have is missing (NaN) in its row. Values keep
    the type the JSON gave them (numbers stay numbers).
    """
    rows = conn.execute("SELECT run_id, parameters FROM runs ORDER BY run_id").fetchall()
    records = {}
    for run_id, text in rows:
        try:
            values = json.loads(text) if text else {}
        except json.JSONDecodeError:
            raise DatabaseError(f"run {run_id}: its parameters are not JSON: {text!r}") from None
        if not isinstance(values, dict):
            raise DatabaseError(f"run {run_id}: its parameters are not a JSON object: {text!r}")
        records[run_id] = values
    frame = pd.DataFrame.from_dict(records, orient="index")
    frame.index.name = "run_id"
    return frame


def delivery_totals(conn):
    """Per run, the records received and expected, summed over the source
    motes whose expectation is known (expected and received both recorded).

    Motes with an unknown count are left out of both sums, so they neither
    count as lost nor inflate the ratio. Runs with no such mote are absent.
    """
    return pd.read_sql("SELECT run_id, SUM(received) AS received, SUM(expected) AS expected, "
                       "COUNT(*) AS motes FROM delivery "
                       "WHERE expected IS NOT NULL AND received IS NOT NULL "
                       "GROUP BY run_id ORDER BY run_id", conn, index_col="run_id")

