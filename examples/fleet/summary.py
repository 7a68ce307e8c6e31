#!/usr/bin/env python3
"""Sums a run of update.yml up, on the controller: one row per host and board, built from the
reports fetched for each host (update.json where an update ran, else verify.json). Writes
summary.csv into the report folder and prints the same table.

Usage: summary.py REPORT_DIR EXIT_MEANINGS_JSON HOST...
"""
import csv
import json
import os
import re
import sys

COLUMNS = ["host", "card", "serial", "outcome", "flash_before", "flash_after", "reason"]
FLASH_MODULES = ["pciflash1", "pciflash2", "pciflash3", "pciflash4"]


def flash_versions(modules):
    """The four flash regions' versions: one when they agree, else each in map order."""
    versions = {m.get("name"): m.get("version", "") for m in modules or []}
    found = [text(versions[name]) for name in FLASH_MODULES if name in versions]
    return found[0] if found and len(set(found)) == 1 else " ".join(found)


def text(value):
    return "" if value is None else str(value)


def read_report(folder):
    """This run's report of a host: (file name, report), or (None, None) when none was fetched."""
    for name in ("update.json", "verify.json"):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                report = json.load(f)
            if not isinstance(report, dict):
                raise ValueError(f"{name}: not a JSON object")
            return name, report
    return None, None


def host_rows(host, report_dir, meanings):
    try:
        name, report = read_report(os.path.join(report_dir, host))
        return board_rows(host, name, report, meanings)
    except (OSError, ValueError, AttributeError, TypeError, KeyError) as e:
        return [[host, "", "", "report unreadable", "", "", str(e)]]


def board_rows(host, name, report, meanings):
    if report is None:
        return [[host, "", "", "no report", "", "", "the host stopped before the tool ran"]]
    exit_reason = meanings.get(str(report.get("exit")), "")
    if not report.get("boards"):
        return [[host, "", "", "no board", "", "", exit_reason or f"{name}: no board was opened"]]
    rows = []
    for board in report["boards"]:
        before = flash_versions(board.get("modules_before"))
        after = flash_versions(board.get("modules_after"))
        if not after and board.get("outcome") == "verified":
            after = before  # compared, found current, left alone
        rows.append([host, text(board.get("card")), text(board.get("serial")),
                     text(board.get("outcome")), before, after, text(board.get("reason"))])
    return rows


def csv_cell(cell):
    """A text that a spreadsheet would take for a formula is kept a text."""
    return "'" + cell if cell[:1] in ("=", "+", "-", "@", "\t", "\r") else cell


def table_cell(cell):
    """One line: control characters are shown escaped."""
    return re.sub(r"[\x00-\x1f\x7f]", lambda m: m.group().encode("unicode_escape").decode(), cell)


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    report_dir, meanings, hosts = argv[1], json.loads(argv[2]), argv[3:]
    rows = [row for host in hosts for row in host_rows(host, report_dir, meanings)]
    os.makedirs(report_dir, exist_ok=True)
    with open(os.path.join(report_dir, "summary.csv"), "w", newline="", encoding="utf-8") as f:
        writer = csv.writer(f)
        writer.writerow(COLUMNS)
        writer.writerows([csv_cell(cell) for cell in row] for row in rows)
    table = [COLUMNS] + [[table_cell(cell) for cell in row] for row in rows]
    widths = [max(len(row[i]) for row in table) for i in range(len(COLUMNS))]
    for row in table:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
