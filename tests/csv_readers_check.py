"""Runs README.md's pandas or numpy lines on combined files and checks what they read.

    python3 csv_readers_check.py pandas|numpy SNIPPET WORKDIR CASE...

Each CASE is a directory WORKDIR/CASE holding accel.csv; the snippet runs there as a script, and
its result (df for pandas, a for numpy) must hold every row of the file, each value as written,
asterisk fields as NaN and inf/-inf as infinities. Called by csv_readers_test.sh.
"""

import math
import os
import runpy
import sys

INF = math.inf
NAN = math.nan

# Values that the cases must read as, by case: {(row, column): value}, columns time, component
# 1, 2, 3. NaN stands for an asterisk field.
KNOWN = {
    "sample": {(0, 0): 0.0, (0, 1): -2.238, (0, 2): -2.123, (0, 3): 2.337,
               (1, 0): 0.005, (1, 1): -0.155, (1, 2): 0.79, (1, 3): -0.678},
    "wide": {(0, 0): 0.0, (0, 1): NAN, (1, 1): INF, (2, 1): -INF, (3, 1): 1.5, (4, 1): 0.0,
             (5, 1): 999999.875, (6, 1): -99999.992, (7, 1): 12.346,
             (0, 2): 2.5, (1, 2): NAN, (2, 2): INF, (3, 2): -INF, (6, 2): NAN, (7, 2): -3.0,
             (0, 3): -INF, (1, 3): 3.25, (2, 3): NAN, (3, 3): INF, (5, 3): NAN, (6, 3): NAN,
             (7, 3): 4.0},
    "wide_time": {(0, 0): 999.99, (0, 1): 1.0, (0, 2): 2.0, (0, 3): 3.0,
                  (1, 0): 999.995, (1, 1): -1.0, (1, 2): NAN, (1, 3): INF,
                  (2, 0): NAN, (2, 1): 4.0, (2, 2): 5.0, (2, 3): -6.0},
}
NAN_COUNT = {"sample": 0, "wide": 6, "wide_time": 2}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def same(x, y):
    """Equal, NaN equal to NaN; finite values to the last bits a decimal parser may differ by."""
    if math.isnan(x) or math.isnan(y):
        return math.isnan(x) and math.isnan(y)
    if math.isinf(x) or math.isinf(y):
        return x == y
    return math.isclose(x, y, rel_tol=1e-12, abs_tol=0.0)


def reference(path):
    """The file's rows read independently: 40 characters each and a line end, LF or (in every
    row alike) CR LF, asterisks as NaN."""
    with open(path, encoding="ascii", newline="") as f:
        text = f.read()
    line_end = "\r\n" if "\r\n" in text else "\n"
    lines = text.split(line_end)
    check(lines[-1] == "", f"{path}: the last row has no line end")
    rows = []
    for number, line in enumerate(lines[:-1], 1):
        fields = line.split(",")
        check(len(line) == 40 and [len(x) for x in fields] == [7, 10, 10, 10],
              f"{path} row {number}: not the fixed layout: {line!r}")
        rows.append([NAN if set(x) == {"*"} else float(x) for x in fields])
    return rows


def run_snippet(snippet, name):
    result = runpy.run_path(snippet, run_name="__main__")
    if name not in result:
        sys.exit(f"FAIL: the README lines leave no variable {name!r}")
    return result[name]


def compare(case, rows, got):
    """got: the tool's rows as lists of four floats."""
    check(len(got) == len(rows), f"{case}: {len(got)} rows read, the file has {len(rows)} lines")
    for r, (want_row, got_row) in enumerate(zip(rows, got)):
        if not check(len(got_row) == 4 and all(map(same, want_row, got_row)),
                     f"{case} row {r + 1}: read {got_row}, the file has {want_row}"):
            break
    for (r, c), value in KNOWN[case].items():
        if r < len(got):
            check(same(got[r][c], value), f"{case} row {r + 1} column {c + 1}: "
                                          f"read {got[r][c]}, expected {value}")
    nans = sum(math.isnan(v) for row in got for v in row)
    check(nans == NAN_COUNT[case], f"{case}: {nans} NaN read, expected {NAN_COUNT[case]}")


def check_pandas(snippet, directory, case, rows):
    import pandas as pd
    df = run_snippet(snippet, "df")
    if not check(isinstance(df, pd.DataFrame), f"{case}: df is a {type(df).__name__}"):
        return
    check(list(df.columns) == ["time", "n00", "n90", "up"], f"{case}: columns {list(df.columns)}")
    if not check(all(str(t) == "float64" for t in df.dtypes),
                 f"{case}: column types {[str(t) for t in df.dtypes]}, not all float64"):
        return
    compare(case, rows, [[float(v) for v in row] for row in df.itertuples(index=False)])
    if case == "sample":
        # What the README warns of: without header=None the first sample becomes the header.
        plain = pd.read_csv(os.path.join(directory, "accel.csv"))
        check(len(plain) == len(rows) - 1,
              f"plain read_csv read {len(plain)} rows of {len(rows)}, not one fewer")
    if case == "wide":
        # And that without skipinitialspace the right-justified inf and -inf stay text.
        kept = pd.read_csv(os.path.join(directory, "accel.csv"), header=None,
                           na_values=["*******", "**********"])
        check([str(t) for t in kept.dtypes[1:]] == ["object"] * 3,
              f"without skipinitialspace: column types {[str(t) for t in kept.dtypes]}")


def check_numpy(snippet, directory, case, rows):
    import numpy as np
    a = run_snippet(snippet, "a")
    if not check(isinstance(a, np.ndarray), f"{case}: a is a {type(a).__name__}"):
        return
    check(a.dtype == np.float64 and a.shape == (len(rows), 4),
          f"{case}: array of {a.dtype}, shape {a.shape}; the file has {len(rows)} rows")
    if a.ndim == 2:
        compare(case, rows, a.tolist())
    # What the README warns of: loadtxt stops at an asterisk field.
    path = os.path.join(directory, "accel.csv")
    try:
        np.loadtxt(path, delimiter=",")
        stopped = False
    except ValueError:
        stopped = True
    check(stopped == (NAN_COUNT[case] > 0),
          f"{case}: loadtxt {'stopped' if stopped else 'did not stop'}")


def main():
    tool, snippet, workdir, cases = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    checker = {"pandas": check_pandas, "numpy": check_numpy}[tool]
    if not cases:
        sys.exit("FAIL: no cases")
    for case in cases:
        directory = os.path.join(workdir, case)
        rows = reference(os.path.join(directory, "accel.csv"))
        os.chdir(directory)
        before = len(failures)
        checker(snippet, directory, case, rows)
        print(f"{case}: {len(rows)} rows, {'as expected' if len(failures) == before else 'FAILED'}")
    for failure in failures:
        print(f"FAIL: {failure}", file=sys.stderr)
    if failures:
        sys.exit(1)
    print(f"PASS: {tool}")


if __name__ == "__main__":
    main()
