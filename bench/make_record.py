#!/usr/bin/env python3
"""Writes the benchmark record: three component files, each with the header the run expects,
then N data records (4124 by default) of eight random fields written "%10.5f" (Gaussian, sigma
50) and one blank line. With 4124 records the blank line is the 4125th record a run reads, so a
conversion writes 8 * 4124 = 32992 rows: the arrays at capacity.

    python3 bench/make_record.py FOLDER [RECORDS]
"""
import random
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
from generate_sample import COMPONENTS, header  # noqa: E402


def main(args):
    folder = Path(args[0])
    records = int(args[1]) if len(args) > 1 else 4124
    rng = random.Random(4124)
    for name, header_records, orientation, _ in COMPONENTS:
        lines = header(name, header_records, orientation, 8 * records)
        for _ in range(records):
            lines.append("".join(f"{rng.gauss(0.0, 50.0):10.5f}" for _ in range(8)))
        lines.append("")
        (folder / name).write_text("\n".join(lines) + "\n", encoding="ascii")


if __name__ == "__main__":
    main(sys.argv[1:])
