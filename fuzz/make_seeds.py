#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are small inputs that each show one thing the target checks: the number forms of E
editing, line ends, short and long records, header plans, the data record capacity, F editing at
the edges of its widths. The output is deterministic, so the committed seeds can be rewritten
byte for byte:

    python3 fuzz/make_seeds.py fuzz/corpus

Inputs a fuzzing run finds are not added here by any tool; a finding worth keeping is added by
hand, under a name that says what it shows.
"""
import struct
import sys
from pathlib import Path


def fields(*values):
    """A data record: each value right-justified in ten columns."""
    return "".join(f"{v:>10}" for v in values)


def header(records, sixth="STATION QRV  COMP N00  SYNTHETIC SEED"):
    lines = [f"header record {k}" for k in range(1, records + 1)]
    if records >= 6:
        lines[5] = sixth
    return "".join(line + "\n" for line in lines)


def formatted_input():
    seeds = {
        "empty": b"",
        "four-values-right-justified": (fields("1.0", "2.5E-01", "-3", "12345") + "\n").encode(),
        "short-record-25-columns": (fields("1.5", "2.5E+01") + "       -3\n").encode(),
        "comma-ends-field": b"1.5,2.5\n,,,-7\n",
        "letter-in-field": (fields("1.2x34") + "\n").encode(),
        "sign-point-exponent-only": (fields("+", ".", "E+03", "-", "e5") + "\n").encode(),
        "negative-zeros": (fields("-0.0", "-0", "-0000.0000", "-.0", "+0.0", "-0.0E5", "- 0 .0",
                                  "-0.00001") + "\n").encode(),
        "blanks-between-digits": b"     1.5-3     1 2 3 - 0 0 1 2  1. 5 E 1\n",
        "exponent-forms": (fields("1.0D+02", "1.0d-02", "12345E2", "1.0E 5", "-1.0e+1",
                                  "15-4", "1.5+3", ".000012") + "\n").encode(),
        "range-edges": (fields("1.0E+99", "1.0E-99", "3.4028E38", "-3.403E38", "1.4E-45",
                               "7.0E-46", "1.1755E-38", "99999999") + "\n").encode(),
        "exponent-digit-missing": b"       1.0E\n      1.0E+\n       1.0E 5\n      2.0E- 5\n",
        "crlf-records": b"   -2.2377   -0.1546\r\n    1.1653\r\n\r\n",
        "lone-cr": b"       1.0\r       2.0\nheader\rtext\n",
        "no-final-line-end": (fields("-2.2377", "-0.1546", "-2.1901")).encode(),
        "ends-inside-exponent": b"       1.0E",
        "tab-and-high-bytes": b"\t1.0\n   \xc3\xa9   2.0\n\x00\n",
        "header-lines-3-and-100": b"abc\n" + b"0123456789" * 10 + b"\n",
        "sample-data": (
            "   -2.2377   -0.1546   -2.1901   -0.4930   -0.8290    1.9204    0.2115    1.8416\n"
            "   -1.7010   -1.2023   -1.3509   -1.2441   -1.7543    0.8956   -0.8234   -0.8843\n"
            "    1.1653    0.6090    1.2163    1.3085    0.7199   -0.0291    0.8287   -1.4510\n"
        ).encode(),
        # The four leading bytes size the second pass: E13.2, then A16 read with w 33.
        "wide-fields-exponent-bound": bytes([12, 2, 15, 32])
        + b"1E99999999  1E999999999 +99999999999\n"
        + b"000000000000001.5D-0000000000003\n",
        "long-digit-string": bytes([255, 7, 127, 159])
        + b"1234567890" * 20 + b"123456.78901234567890123456789012E-30\n",
    }
    return seeds


def data_file(header_records, data_lines, end="\n", last_end=True):
    text = header(header_records).replace("\n", end)
    body = end.join(data_lines)
    if data_lines and last_end:
        body += end
    return (text + body).encode()


def component_file():
    records = [
        fields(f"{0.25 * k - 1:.4f}", f"{-0.5 * k:.4f}", f"{k}", f"{k * 1.5E-2:.2E}",
               "12345", "-3", "", "1.0") for k in range(3)
    ]
    capacity = 4125
    seeds = {
        "plan-a-three-records": data_file(32, records),
        "plan-b-three-records": data_file(33, records),
        "header-only": data_file(32, []),
        "31-records-with-line-end": data_file(31, []),
        "31-records-without-line-end": data_file(31, [])[:-1],
        "ends-after-five-records": data_file(5, []),
        "echo-line-3-and-100-characters": (
            "".join(f"r{k}\n" for k in range(1, 6)) + "abc\n"
            + "".join(f"r{k}\n" for k in range(7, 33)) + "x" * 100 + "\n" + records[0] + "\n"
        ).encode(),
        "blank-last-data-record": data_file(32, records + [""]),
        "last-record-without-line-end": data_file(32, records, last_end=False),
        "short-last-record-without-line-end": data_file(32, records + ["       1.5"],
                                                        last_end=False),
        # A lone CR as the file's last byte, looked at by a field: no line end, an error.
        "lone-cr-ends-the-file": data_file(32, records + ["       1.5\r"], last_end=False),
        # A field without digits reads as zero, however large its exponent.
        "no-digits-and-a-large-exponent": data_file(32, [fields("E999999999", ".E99999999",
                                                                "-E99999999", "1.0")]),
        # Plus signs before numbers of 1 to 8 characters.
        "plus-signs": data_file(32, [fields("+1", "+12", "+1.5", "+1.25", "+.5", "+7.",
                                            "+0.0001", "+1234.56")]),
        "letter-in-data": data_file(32, records + [fields("1.0", "2.0", "3.O")]),
        "crlf-file": data_file(32, records, end="\r\n"),
        "comma-separated-data": data_file(32, ["1.5,2.5,-3,,7", "1,2,3,4,5,6,7,8,9"]),
        # The capacity: 4125 data records fit, a 4126th (even a partial one) is refused.
        "capacity-blank-records": data_file(32, [""] * capacity),
        "capacity-plus-one-blank-record": data_file(32, [""] * (capacity + 1)),
        "capacity-one-field-records": data_file(
            32, [f"{(k % 2000 - 1000) * 0.0125:>10.4f}" for k in range(capacity)]),
        "capacity-then-partial-record": data_file(32, [""] * capacity) + b"       1.0",
    }
    # A CR LF pair split by the end of the unit's 64 KiB buffer, and a lone CR at the same place.
    boundary = 64 * 1024
    base = header(32).replace("\n", "\r\n").encode()
    full = (fields(*["-1.2345"] * 8) + "\r\n").encode()
    body = bytearray(base)
    while len(body) + len(full) + 3 <= boundary - 1:
        body += full
    # A short record, so that the next one stays within 80 columns: its CR is then looked at by
    # a field (at column 80 or before), not passed over with the rest of the record.
    if boundary - 1 - len(body) > 60:
        body += b"       1.5\r\n"
    # The next record is as long as it takes to put its CR at byte 65535.
    pad = boundary - 1 - len(body)
    assert 3 <= pad <= 79
    straddle = bytes(body) + (" " * (pad - 3) + "1.0").encode()
    assert len(straddle) == boundary - 1
    seeds["crlf-across-buffer-end"] = straddle + b"\r\n" + full * 3
    seeds["lone-cr-at-buffer-end"] = straddle + b"\r" + full * 3
    return seeds


def floats(*values):
    return b"".join(struct.pack("<f", v) for v in values)


def bits(*words):
    return b"".join(struct.pack("<I", w) for w in words)


def fixed_output():
    inf = float("inf")
    return {
        # The first two bytes give Fw.d: w = 1 + byte0 % 100, d = byte1 % 101.
        "row-values": floats(0.005, 12.3456, -0.0004, -1234.5),
        "row-with-asterisks": floats(0.005, -0.0004, 123.4567, -1234567.0),
        "f10-bounds": floats(123456.7, -123456.7, 999999.9995, 999999.94, -99999.999, -99999.99,
                             -100000.0),
        "f7-bounds": floats(1000.0, -0.5, 999.9995, 999.9994, -99.9995, -99.9994),
        "infinities-and-nans": floats(inf, -inf) + bits(0x7FC00000, 0xFFC00000, 0x7F800001),
        "zeros-and-subnormals": floats(0.0, -0.0) + bits(0x00000001, 0x80000001, 0x007FFFFF),
        "largest-and-ties": floats(3.4028234663852886e38, -3.4028234663852886e38, 0.0625, 0.0005,
                                   -0.0005, 2.5, 0.3125),
        # byte0 = 3, byte1 = 3: F4.3, where 0.5 loses its leading zero.
        "f4-3-leading-zero": bytes([3, 3, 0, 0]) + floats(0.5, -0.5, 0.9995, 9.9995),
        # F1.0 and F2.0: the shortest fields.
        "f1-0": bytes([0, 0, 0, 0]) + floats(0.4, 0.5, 1.5, 9.0, -9.0),
        "f2-0": bytes([1, 0, 0, 0]) + floats(0.4, -0.6, 9.5, 10.0),
        # F60.50: the whole expansion of small values; F100.100: the longest text.
        "f60-50-small-values": bytes([59, 50, 0, 0]) + floats(1e-30, 2.0 ** -126) + bits(1),
        "f100-100": bytes([99, 100, 0, 0]) + floats(1e-45, 0.1, -0.3) + bits(0x80000001),
        "f30-20-large-values": bytes([29, 20, 0, 0]) + floats(9.2233720e18, 1.8446744e19,
                                                                -1.0e20, 3.0e38),
    }


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else "fuzz/corpus")
    for target, seeds in [("formatted_input", formatted_input()),
                          ("component_file", component_file()),
                          ("fixed_output", fixed_output())]:
        directory = root / target
        directory.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (directory / name).write_bytes(data)


if __name__ == "__main__":
    main()
