#!/usr/bin/env python3
"""Checks that the shared library exports exactly the calls that the public header declares."""
import re
import subprocess
import sys

header, library = sys.argv[1], sys.argv[2]
with open(header, encoding="utf-8") as f:
    declared = set(re.findall(r"VOKOEM_API[^;(]*?\b(\w+)\s*\(", f.read()))
symbols = subprocess.run(["nm", "-D", "--defined-only", library], capture_output=True, text=True,
                         check=True).stdout
exported = {line.split()[-1] for line in symbols.splitlines()
            if len(line.split()) == 3 and line.split()[1] in "TWi"}
missing, extra = sorted(declared - exported), sorted(exported - declared)
for name in missing:
    print(f"declared but not exported: {name}")
for name in extra:
    print(f"exported but not declared: {name}")
print(f"{len(declared)} declared calls, {len(exported)} exported symbols")
sys.exit(1 if missing or extra else 0)
