#!/usr/bin/env python3
"""The convert step's bit-file check: the stand-in images pass, and each kind of damage stops
the conversion with a message that names the file and the fault."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "firmware", "bitfile.py")
MANIFEST = os.path.join(HERE, "..", "..", "firmware", "images.manifest")
sys.dont_write_bytecode = True  # nothing is written into the source tree
sys.path.insert(0, os.path.dirname(SCRIPT))
import bitfile  # noqa: E402


class BitfileCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        bitfile.generate(MANIFEST, cls.dir.name)
        with open(os.path.join(cls.dir.name, "s2.bit"), "rb") as f:
            cls.good = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def fault(self, data):
        with self.assertRaises(bitfile.Fault) as caught:
            bitfile.check("s2.bit", data)
        self.assertTrue(str(caught.exception).startswith("s2.bit: "))
        return str(caught.exception)

    def test_generated_images_pass_with_their_sizes(self):
        _, rows = bitfile.read_manifest(MANIFEST)
        for r in rows:
            with open(os.path.join(self.dir.name, r["prefix"] + ".bit"), "rb") as f:
                data = f.read()
            bitfile.check(r["prefix"], data)
            self.assertEqual(len(data), r["size"])

    def test_each_fault_is_named(self):
        g = self.good
        e_at = g.index(b"e" + struct.pack(">I", len(g) - 75))
        cases = {
            "length 9": b"\x00\x08" + g[2:],
            "not 1": g[:11] + b"\x00\x02" + g[13:],
            "field 'a' expected": g[:13] + b"x" + g[14:],
            # s2.bit: "a" at 13 with its text at 16 to 30, "b" at 31 with its length at 32
            "field 'b' has a bad length": g[:32] + b"\xff\xff" + g[34:],
            "not one terminated text": g[:30] + b"!" + g[31:],
            "field 'e' expected": g[:e_at] + b"f" + g[e_at + 1:],
            "is not the header": g[:-1],
            "does not open with": g[:75] + b"\x00" + g[76:],
            "too short": g[:5],
        }
        for expected, data in cases.items():
            with self.subTest(expected):
                self.assertIn(expected, self.fault(data))

    def test_truncations_never_pass_and_never_crash(self):
        for n in range(0, 200):
            with self.subTest(n):
                self.fault(self.good[:n])

    def test_convert_stops_with_the_file_and_fault(self):
        bad = os.path.join(self.dir.name, "bad.bit")
        with open(bad, "wb") as f:
            f.write(b"\xff\xff\xff\xff\xaa\x99\x55\x66" + self.good[8:])
        inputs = [os.path.join(self.dir.name, p + ".bit:1") for p in ("fx", "s1")]
        run = subprocess.run([sys.executable, SCRIPT, "convert", MANIFEST, self.dir.name, *inputs,
                              bad + ":1", inputs[0]], capture_output=True, text=True)
        self.assertEqual(run.returncode, 1)
        self.assertIn(bad + ": does not open with the length 9", run.stderr)


if __name__ == "__main__":
    unittest.main()
