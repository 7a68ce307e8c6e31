#!/usr/bin/env python3
"""Sums a run of update.yml up, on the controller: one row per host and board, built from the
reports fetched for each host (update.json where an update ran, else verify.json). Writes
summary.csv into the report folder and prints the same table. Standard input may carry a JSON
object that tells per host how far the run came (the playbook's vantrel_state): "step" (verify
or update, the last step of the tool started), "verify" and "update" (their exit values) and
"fetch" (what went wrong fetching the reports); it says why a report is missing.

Usage: summary.py REPORT_DIR EXIT_MEANINGS_JSON HOST... [<STATES_JSON]
"""
import csv
import json
import os
import re
import sys

COLUMNS = ["host", "card", "serial", "outcome", "flash_before", "flash_after", "reason"]
FLASH_MODULES = ["pciflash1", "pciflash2", "pciflash3", "pciflash4"]
OPTIONS = {"verify": "--verify", "update": "--yes"}
NOTHING_WRITTEN = (3, 255)  # exit values of --yes that come before any write


def flash_versions(modules):
    """The four flash regions' versions: one when they agree, else each in map order."""
    versions = {m.get("name"): m.get("version", "") for m in modules or []}
    found = [text(versions[name]) for name in FLASH_MODULES if name in versions]
    return found[0] if found and len(set(found)) == 1 else " ".join(found)


def text(value):
    return "" if value is None else str(value)


def read_report(folder, name):
    """A fetched report, or None when there is none."""
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as f:
        try:
            report = json.load(f)
        except RecursionError:  # a report is never nested this deep
            raise ValueError("nested too deeply") from None
    if not isinstance(report, dict):
        raise ValueError("not a JSON object")
    return report


def missing(step, state, meanings):
    """Why the report of STEP (verify, update) is missing, as far as the state tells."""
    option, code, fetch = OPTIONS[step], state.get(step), state.get("fetch")
    code = None if code is None else int(code)
    if code is None:
        said = (f"the host went away while vantrel-upgrade {option} ran" if fetch is None else
                f"vantrel-upgrade {option} did not run to its end")
    elif code < 0:
        said = f"vantrel-upgrade {option} was killed (signal {-code})"
    else:
        meaning = meanings.get(str(code))
        said = f"vantrel-upgrade {option} exited {code}" + (
            f": {meaning}" if meaning else "" if fetch else " and left no report")
    if fetch:
        said += f"; the reports could not be fetched: {fetch}"
    elif code is not None and fetch is None:
        said += "; the host went away before its reports were fetched"
    if step == "update" and code not in NOTHING_WRITTEN:
        said += "; the flash may have been written"
    return said


def board_rows(host, name, report, meanings, outcome=None, reason=None):
    """The rows of a report's boards; OUTCOME and REASON replace the report's where given (an
    update without a report, shown with the boards that the comparison found)."""
    if not report.get("boards"):
        reason = reason or meanings.get(str(report.get("exit"))) or f"{name}: no board was opened"
        return [[host, "", "", outcome or "no board", "", "", reason]]
    rows = []
    for board in report["boards"]:
        before = flash_versions(board.get("modules_before"))
        after = "" if outcome else flash_versions(board.get("modules_after"))
        if not after and not outcome and board.get("outcome") == "verified":
            after = before  # compared, found current, left alone
        rows.append([host, text(board.get("card")), text(board.get("serial")),
                     outcome or text(board.get("outcome")), before, after,
                     reason or text(board.get("reason"))])
    return rows


def host_rows(host, report_dir, meanings, state):
    """The rows of a host; STATE is None when the run's states are not known."""
    folder, known = os.path.join(report_dir, host), state or {}
    name = "update.json"
    try:
        report = read_report(folder, name)
        if report is None:
            name = "verify.json"
            report = read_report(folder, name)
            if known.get("step") == "update":  # an update ran, but its report is missing
                return board_rows(host, name, report or {}, meanings, "no report",
                                  missing("update", known, meanings))
        if report is not None:
            return board_rows(host, name, report, meanings)
    except (OSError, ValueError, AttributeError, TypeError, KeyError) as e:
        return [[host, "", "", "report unreadable", "", "", f"{name}: {e}"]]
    if known.get("step") == "verify":
        reason = missing("verify", known, meanings)
    elif state is None:
        reason = "no report was fetched"
    else:
        reason = "the host stopped before the tool ran"
    return [[host, "", "", "no report", "", "", reason]]


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
    given = "" if sys.stdin is None or sys.stdin.isatty() else sys.stdin.read()
    states = json.loads(given) if given.strip() else None
    rows = [row for host in hosts
            for row in host_rows(host, report_dir, meanings, None if states is None else
                                 states.get(host) or {})]
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
