#!/usr/bin/env python3
"""Plots a sweep's delivery ratio against a parameter, link_p by default.

Each run's delivery ratio is the records received over the records
expected, summed over its source motes whose expectation is known (so a
mote that sent many records weighs more than one that sent few). The runs
that share every parameter but the seed make one point: the mean of their
ratios, with an error bar of one sample standard deviation (n - 1) either
side. Runs that failed, or whose expectation is unknown throughout, are
left out and counted on standard error.

Usage: plot_delivery.py DATABASE --out PNG [--summary CSV] [--x NAME]
Exit status 0 when the plot is written, 2 when it cannot be.
"""

import argparse
import contextlib
import os
import pathlib
import sys
import tempfile

try:
    import matplotlib
    matplotlib.use("Agg")  # files only: no display needed, none used
    import matplotlib.pyplot as plt
    import pandas as pd
except ImportError as error:
    print(f"plot_delivery: {error.name} is missing for {sys.executable}; on Debian, scripts/setup.sh "
          "installs python3-pandas and python3-matplotlib for /usr/bin/python3", file=sys.stderr)
    sys.exit(2)

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import experiment_db  # noqa: E402  (found beside this script)

# Parameters whose runs are repetitions of one point rather than points of their own.
DEFAULT_OVER = ("seed", "repeat")

AXIS_LABELS = {"link_p": "bit-error probability of every link"}


class PlotError(Exception):
    """The database holds nothing that can be plotted as asked."""


def numeric_if_possible(column):
    """The column as numbers when every value is one, else as text."""
    as_numbers = pd.to_numeric(column, errors="coerce")
    return as_numbers if as_numbers.notna().all() else column.astype(str)


def run_ratios(runs, params, totals, x, over):
    """One row per plotted run: x, series (a label of the other varied
    parameters, empty when there are none) and ratio; plus notes on the
    runs left out."""
    if x not in params.columns:
        known = ", ".join(sorted(params.columns)) or "none"
        raise PlotError(f"no run has the parameter '{x}' (parameters in this database: {known})")
    notes = []
    done = runs.index[runs["status"] == "done"]
    if len(done) < len(runs):
        notes.append(f"{len(runs) - len(done)} failed run(s) left out")
    with_x = params.loc[done, x].dropna().index
    if len(with_x) < len(done):
        notes.append(f"{len(done) - len(with_x)} run(s) without '{x}' left out")
    counted = totals.reindex(with_x)
    known = counted.index[counted["expected"] > 0]
    if len(known) < len(with_x):
        notes.append(f"{len(with_x) - len(known)} run(s) with no known expected count left out")
    if len(known) == 0:
        raise PlotError("no finished run has a known expected count to plot")

    table = pd.DataFrame({x: numeric_if_possible(params.loc[known, x]),
                          "ratio": counted.loc[known, "received"] / counted.loc[known, "expected"]})
    labels = runs.loc[known, ["experiment"]].join(params.loc[known].drop(columns=[x]))
    varied = [name for name in labels.columns
              if name not in over and labels[name].astype(str).nunique() > 1]
    table["series"] = labels[varied].apply(
        lambda row: ", ".join(f"{name}={value}" for name, value in row.items()), axis=1) if varied else ""
    return table, notes


def summarise(table, x):
    """Per series and x: the number of runs, their mean ratio and its sample standard deviation."""
    summary = table.groupby(["series", x])["ratio"].agg(runs="count", mean="mean", sd="std")
    return summary.reset_index()


def plot(summary, x, title, out):
    figure, axes = plt.subplots(figsize=(6.4, 4.2), dpi=120)
    numeric = pd.api.types.is_numeric_dtype(summary[x])
    categories = sorted(summary[x].unique())
    for series, points in summary.groupby("series", sort=True):
        points = points.sort_values(x)
        positions = points[x] if numeric else points[x].map(categories.index)
        axes.errorbar(positions, points["mean"], yerr=points["sd"].fillna(0), fmt="o-",
                      capsize=4, label=series or None)
    if not numeric:
        axes.set_xticks(range(len(categories)), categories)
    axes.set_xlabel(AXIS_LABELS.get(x, x))
    axes.set_ylabel("delivery ratio (received / expected)")
    # Room for the whole of every bar: mean + sd may pass 1 where runs differ widely.
    axes.set_ylim(0, max(1.05, (summary["mean"] + summary["sd"].fillna(0)).max() + 0.03))
    axes.grid(True, alpha=0.3)
    axes.set_title(title)
    fewest, most = int(summary["runs"].min()), int(summary["runs"].max())
    runs = f"{most}" if fewest == most else f"{fewest} to {most}"
    axes.text(0.01, 0.02, f"each point: mean of {runs} runs (seeds); bars: ±1 standard deviation",
              transform=axes.transAxes, fontsize=8, color="0.35")
    if summary["series"].nunique() > 1:
        axes.legend(fontsize=8)
    figure.tight_layout()
    save_replacing(figure, out)
    plt.close(figure)


def save_replacing(figure, out):
    """Writes the PNG beside its destination and renames it into place, so
    a failed write never leaves a truncated picture under the real name."""
    folder = out.parent
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=f".{out.name}.", suffix=".png")
    os.close(handle)
    try:
        figure.savefig(temporary, format="png")
        # mkstemp makes the file private (0600); give it the mode a plain open would.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, out)
    except BaseException:
        os.unlink(temporary)
        raise


def print_summary(summary, x, file):
    print(f"delivery ratio by {x} (mean and sample standard deviation over seeds)", file=file)
    shown = summary if summary["series"].nunique() > 1 else summary.drop(columns="series")
    formats = {"mean": "{:.4f}".format, "sd": "{:.4f}".format}
    if pd.api.types.is_numeric_dtype(shown[x]):
        formats[x] = "{:g}".format
    print(shown.to_string(index=False, formatters={k: v for k, v in formats.items() if k in shown},
                          na_rep="-"), file=file)


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Plot delivery ratio against a parameter (link_p by default) from a sweep's "
                    "database: one point per value, mean over seeds with ±1 standard deviation.")
    parser.add_argument("database", help="the SQLite database a sweep wrote")
    parser.add_argument("--out", required=True, type=pathlib.Path, help="the PNG to write")
    parser.add_argument("--summary", type=pathlib.Path,
                        help="also write the plotted numbers as CSV (series, x, runs, mean, sd)")
    parser.add_argument("--x", default="link_p", help="the parameter on the x axis (default link_p)")
    parser.add_argument("--over", action="append",
                        help="a parameter whose runs are averaged into one point; may be given "
                             f"more than once (default: {', '.join(DEFAULT_OVER)})")
    parser.add_argument("--title", help="the plot's title (default: the experiment's name)")
    args = parser.parse_args(argv)
    over = tuple(args.over) if args.over else DEFAULT_OVER

    for path in (args.out, args.summary):
        if path is not None and not path.parent.is_dir():
            print(f"plot_delivery: {path}: no folder {path.parent}", file=sys.stderr)
            return 2
    try:
        with contextlib.closing(experiment_db.open_read_only(args.database)) as conn:
            runs = experiment_db.runs(conn)
            table, notes = run_ratios(runs, experiment_db.parameters(conn),
                                      experiment_db.delivery_totals(conn), args.x, over)
    except (experiment_db.DatabaseError, PlotError) as error:
        print(f"plot_delivery: {error}", file=sys.stderr)
        return 2
    for note in notes:
        print(f"plot_delivery: {note}", file=sys.stderr)

    summary = summarise(table, args.x)
    title = args.title or ", ".join(sorted(runs["experiment"].dropna().unique())) or "delivery ratio"
    plot(summary, args.x, title, args.out)
    if args.summary is not None:
        summary.to_csv(args.summary, index=False)
    print_summary(summary, args.x, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
