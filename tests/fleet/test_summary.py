#!/usr/bin/env python3
"""The fleet example's summary.py on reports and host states made up for it: odd values in a
report, and hosts that went away.

Usage: test_summary.py [SUMMARY_PY]   (examples/fleet/summary.py of this checkout by default)
"""
import csv
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SUMMARY = os.path.join(HERE, "..", "..", "examples", "fleet", "summary.py")
MEANINGS = {"2": "a board was refused by the checks", "3": "no Vantrel board was found",
            "4": "the report could not be written",
            "5": "a board is held by another program; run the update again later",
            "130": "the tool was interrupted"}


def module(name, version):
    return {"name": name, "version": version}


def board(serial, outcome, versions, reason=None):
    modules = [module(f"pciflash{i}", version) for i, version in enumerate(versions, 1)]
    return {"card": 0, "serial": serial, "outcome": outcome, "reason": reason,
            "modules_before": modules, "modules_after": []}


class Summary(unittest.TestCase):
    def run_summary(self, reports, states=None):
        """Writes REPORTS ({host: {file: content}}), runs summary.py over their hosts, and
        returns the printed lines and the CSV rows without the heading."""
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        folder = scratch.name
        for host, files in reports.items():
            os.makedirs(os.path.join(folder, host))
            for name, content in files.items():
                with open(os.path.join(folder, host, name), "w", encoding="utf-8") as f:
                    f.write(content if isinstance(content, str) else json.dumps(content))
        done = subprocess.run([sys.executable, SUMMARY, folder, json.dumps(MEANINGS), *reports],
                              input="" if states is None else json.dumps(states),
                              capture_output=True, text=True, check=True)
        with open(os.path.join(folder, "summary.csv"), newline="", encoding="utf-8") as f:
            return done.stdout.splitlines(), list(csv.reader(f))[1:]

    def test_odd_values_stay_in_their_row_and_cell(self):
        formula = '=HYPERLINK("http://example.com")'
        lines, rows = self.run_summary({
            "zero": {"verify.json": {"exit": 1, "boards": [
                board(0, "differs", [formula] * 4, "map 1 differs\nfrom its image")]}},
            "list": {"verify.json": [1, 2]},
            "after": {"verify.json": {"exit": 0, "boards": [board(7, "verified", ["1"] * 4)]}},
        })
        self.assertEqual(rows, [
            ["zero", "0", "0", "differs", "'" + formula, "", "map 1 differs\nfrom its image"],
            ["list", "", "", "report unreadable", "", "", "verify.json: not a JSON object"],
            ["after", "0", "7", "verified", "1", "1", ""]])
        self.assertEqual(len(lines), 4)
        self.assertIn(formula + "  ", lines[1])
        self.assertTrue(lines[1].endswith("map 1 differs\\nfrom its image"), lines[1])

    def test_a_report_nested_too_deeply_is_unreadable_for_its_host_only(self):
        _, rows = self.run_summary({
            "nested": {"verify.json": "[" * 200000},
            "after": {"verify.json": {"exit": 0, "boards": [board(7, "verified", ["1"] * 4)]}},
        })
        self.assertEqual(rows, [
            ["nested", "", "", "report unreadable", "", "", "verify.json: nested too deeply"],
            ["after", "0", "7", "verified", "1", "1", ""]])

    def test_a_host_that_went_away_is_told_as_such(self):
        # The fleet test plays the other ways of losing a report; a host that goes away it
        # cannot play.
        differs = {"exit": 1, "boards": [board(5, "differs", ["1.0.33.7"] * 4, "map 1 differs")]}
        _, rows = self.run_summary({"comparing": {}, "updating": {"verify.json": differs}}, {
            "comparing": {"step": "verify"}, "updating": {"step": "update", "verify": 1}})
        self.assertEqual(rows, [
            ["comparing", "", "", "no report", "", "",
             "the host went away while vantrel-upgrade --verify ran"],
            ["updating", "0", "5", "no report", "1.0.33.7", "", "the host went away while "
             "vantrel-upgrade --yes ran; the flash may have been written"]])


if __name__ == "__main__":
    if len(sys.argv) > 1:
        SUMMARY = sys.argv.pop(1)
    unittest.main()
