#!/usr/bin/env python3
"""Includes run downward only: a file may include its own room and the rooms
below it, in this order from the top. Prints each include that runs upward
and fails when there is one."""
import pathlib
import re
import sys

ORDER = ["app", "phones", "books", "history", "sheet", "products", "exchange", "codes", "backup",
         "hints", "widgets", "report", "work", "msg", "store", "base"]
RANK = {room: i for i, room in enumerate(ORDER)}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
upward = []
for room in ORDER:
    for f in sorted((root / room).glob("*")):
        if f.suffix not in (".h", ".cpp"):
            continue
        for target in INCLUDE.findall(f.read_text(encoding="utf-8")):
            if target in RANK and RANK[target] < RANK[room]:
                upward.append(f"{f.relative_to(root)}: includes {target}/ (above {room}/)")
            # Grids and boxes serve any model: they know the work tables only
            # through the small interfaces in base/.
            elif room == "widgets" and target == "work":
                upward.append(f"{f.relative_to(root)}: includes work/ (widgets know no work table)")
for line in upward:
    print(line)
print(f"{len(upward)} includes run upward", file=sys.stderr)
sys.exit(1 if upward else 0)
