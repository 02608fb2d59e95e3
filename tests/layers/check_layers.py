#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

Every file of the tree belongs to one unit: its folder, or for the folders that hold more than
one library, the library named by the file's stem in FILE_UNITS. A unit may include its own
headers and those of the units below it in BELOW (transitively). The units in QT_FREE may not
include a Qt header at all.

Usage: check_layers.py SOURCE_ROOT
"""

import re
import sys
from pathlib import Path

# What each unit may include, besides itself; the closure is taken below.
BELOW = {
    "platform": [],
    "platform/qt": [],
    "platform/gui": [],
    "net/endpoints": ["platform"],
    "net/update_rule": ["platform"],
    "net": ["net/endpoints", "net/update_rule"],
    "account": ["net"],
    "market": ["platform"],
    "market/store": ["market"],
    "market/live": ["market", "net"],
    "analysis": ["market"],
    "analysis/render": ["analysis", "platform/qt"],
    "simulator": ["market"],
    "services": ["simulator", "net/endpoints", "net/update_rule"],
    "updater/logic": ["net/update_rule"],
    "updater": ["updater/logic"],
    "app/logic": ["market"],
    "session": ["app/logic", "analysis", "market/live", "account"],
    "app": ["session", "analysis/render", "market/store", "platform/gui", "platform/qt"],
    "tools": ["session", "analysis/render", "market/store", "simulator", "platform/qt"],
}

# Files that belong to another library than the rest of their folder, by path without suffix.
FILE_UNITS = {
    "platform/QtText": "platform/qt",
    "platform/LockKeys": "platform/gui",
    "platform/LockKeys_x11": "platform/gui",
    "net/Endpoints": "net/endpoints",
    "net/UrlEncoding": "net/endpoints",
    "net/SelfUpdate": "net/update_rule",
    "analysis/DrawListPainter": "analysis/render",
    "analysis/DrawListExport": "analysis/render",
    "updater/Replace": "updater/logic",
    "app/AboutText": "app/logic",
    "app/AppState": "app/logic",
    "app/Commands": "app/logic",
    "app/GridSort": "app/logic",
    "app/ImageName": "app/logic",
    "app/ProfileLayerSetting": "app/logic",
}

QT_FREE = {"platform", "net/endpoints", "net/update_rule", "net", "account", "market",
           "market/store", "market/live", "analysis", "simulator", "services", "updater/logic",
           "app/logic", "session"}

# Top-level folders with sources that are not layers of the program.
NOT_LAYERS = {"tests", "bench", "fuzz", "build", "cmake", "res", "scripts"}

SOURCE_SUFFIXES = {".cpp", ".h"}
LOCAL_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
QT_INCLUDE = re.compile(r"^\s*#\s*include\s+<(Q[A-Za-z]*|Qt[A-Za-z]*/[^>]*)>")


def closure():
    allowed = {}

    def below(unit, seen):
        for lower in BELOW[unit]:
            if lower not in seen:
                seen.add(lower)
                below(lower, seen)
        return seen

    for unit in BELOW:
        allowed[unit] = below(unit, {unit})
    return allowed


def unit_of(relative):
    """The unit of a path relative to the root ("market/live/QuotePoller.h"), or None."""
    stem = str(relative.with_suffix(""))
    if stem in FILE_UNITS:
        return FILE_UNITS[stem]
    parts = relative.parts[:-1]
    for length in range(len(parts), 0, -1):
        folder = "/".join(parts[:length])
        if folder in BELOW:
            return folder
    return None


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = Path(sys.argv[1]).resolve()
    allowed = closure()
    faults = []
    checked = 0
    for path in sorted(root.rglob("*")):
        relative = path.relative_to(root)
        top = relative.parts[0]
        if (path.suffix not in SOURCE_SUFFIXES or not path.is_file() or top in NOT_LAYERS
                or top.startswith(".") or top.startswith("build")):
            continue
        unit = unit_of(relative)
        if unit is None:
            faults.append(f"{relative}: in no layer; add its folder to {Path(__file__).name}")
            continue
        checked += 1
        lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
        for number, line in enumerate(lines, 1):
            local = LOCAL_INCLUDE.match(line)
            if local and "/" in local.group(1):
                target = Path(local.group(1))
                target_unit = unit_of(target)
                if target_unit is None:
                    faults.append(f"{relative}:{number}: {target} is in no layer")
                elif target_unit not in allowed[unit]:
                    faults.append(f"{relative}:{number}: {unit} may not include {target} "
                                  f"({target_unit})")
            if unit in QT_FREE and QT_INCLUDE.match(line):
                faults.append(f"{relative}:{number}: {unit} links no Qt but includes "
                              f"{line.strip()[len('#include '):]}")
    for fault in faults:
        print(fault)
    print(f"{checked} files checked, {len(faults)} faults")
    return 1 if faults or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
