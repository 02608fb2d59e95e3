#!/usr/bin/env python3
"""Fails when a name in the program's code breaks the naming rule of HACKING.md.

The rule, for everything that is not an established name:
- member functions (static ones too) are camelCase;
- functions at namespace scope are PascalCase;
- data members of classes are m_ followed by camelCase, fields of plain structs camelCase.
Established names (the list between the markers in HACKING.md) keep their form wherever they
occur. The framework stand-ins (FRAMEWORK below) keep the framework's mixed case in their own
interface, message handlers (On followed by a capital) keep the On prefix, and an override
keeps the name of what it overrides.

Usage: check_names.py SOURCE_ROOT   (needs universal-ctags)
"""

import json
import re
import subprocess
import sys
from pathlib import Path

FOLDERS = ["app", "analysis", "market", "account", "net", "platform", "simulator", "services",
           "tools", "updater"]
# Our stand-ins for the application framework's classes: callers written against the framework
# use their methods by the framework's names.
FRAMEWORK = {"CView", "CDocument", "CDocTemplate", "CChildFrame", "CEditGridCtrl"}

CAMEL = re.compile(r"^[a-z][A-Za-z0-9]*$")
PASCAL = re.compile(r"^[A-Z][A-Za-z0-9]*$")
MEMBER = re.compile(r"^m_[a-z][A-Za-z0-9]*$")


def established(root):
    text = (root / "HACKING.md").read_text(encoding="utf-8")
    block = re.search(r"<!-- established names -->(.*?)<!-- end -->", text, re.S)
    if not block:
        sys.exit("HACKING.md has no list of established names")
    return set(re.findall(r"`([A-Za-z_][A-Za-z0-9_]*(?:::[A-Za-z_][A-Za-z0-9_]*)?)`",
                          block.group(1)))


def tags(root):
    out = subprocess.run(
        ["ctags", "-R", "--languages=C++", "--kinds-C++=+p-l", "--fields=+KZs",
         "--fields-C++=+{properties}",
         "--output-format=json", "-f", "-"] + FOLDERS,
        cwd=root, check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        tag = json.loads(line)
        if tag.get("_type") == "tag":
            yield tag


def problems(root):
    names = established(root)
    for tag in tags(root):
        name, kind = tag["name"], tag.get("kind")
        scope, scope_kind = tag.get("scope", ""), tag.get("scopeKind", "")
        owner = scope.split("::")[-1]
        where = f"{tag['path']}: {scope + '::' if scope else ''}{name}"
        if name in names or f"{owner}::{name}" in names:
            continue
        if scope and not scope.startswith(("velmora", "__anon")):
            continue  # a misreading of ctags (a cast taken for a declaration)
        if name.startswith(("__anon", "operator")) or not re.match(r"^\w+$", name):
            continue
        if "__anon" in owner and scope_kind in ("class", "struct"):
            scope_kind = "struct"  # a lambda's or an unnamed struct's members
        if kind in ("function", "prototype"):
            if scope_kind in ("class", "struct", "union"):
                if name == owner or name.startswith("~") or owner in FRAMEWORK:
                    continue
                if "override" in tag.get("properties", ""):
                    continue  # named by the class it overrides
                if re.match(r"^On[A-Z]", name):
                    continue
                if not CAMEL.match(name):
                    yield f"{where}: a member function is camelCase"
            elif name != "main" and not PASCAL.match(name):
                yield f"{where}: a function at namespace scope is PascalCase"
        elif kind == "member" and scope_kind == "class":
            if not MEMBER.match(name) and not CAMEL.match(name):
                yield f"{where}: a class's data member is m_camelCase"
            elif name.startswith("m_") and not MEMBER.match(name):
                yield f"{where}: a class's data member is m_camelCase"
        elif kind == "member" and scope_kind == "struct":
            if not CAMEL.match(name) and not MEMBER.match(name):
                yield f"{where}: a struct's field is camelCase"


def main():
    root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
    found = sorted(set(problems(root)))
    for line in found:
        print(line)
    print(f"{len(found)} names break the rule" if found else "names follow the rule")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
