#!/usr/bin/env python3
"""Copies MyHTML's source tree and renames the definitions of the routines the program replaces.

usage: rename-myhtml-routines.py SOURCE DESTINATION REPLACEMENTS-FILE

The program defines some of MyHTML's own routines (see the table of them in html/MyHtmlParser.cpp). On Linux its
definitions take the place of the shared library's through the symbol table. A static library linked into a
Windows program gives no such thing, so there each routine's own definition is renamed NAME_myhtml and every call
to it is left as it is: the library's calls then reach the program's NAME, and the program still reaches the
library's version, where it wants it, as NAME_myhtml. The routines are read from REPLACEMENTS-FILE, as the
"&name" entries of its kReplacements table, so the list is kept in one place."""
import os
import re
import shutil
import sys

source, destination, replacements = sys.argv[1], sys.argv[2], sys.argv[3]
table = open(replacements, encoding="utf-8").read()
table = table[table.index("kReplacements[]"):]
table = table[: table.index("};")]
routines = re.findall(r"&(\w+)\)", table)
if not routines:
    sys.exit("rename-myhtml-routines.py: no routines found in " + replacements)

if os.path.exists(destination):
    shutil.rmtree(destination)
shutil.copytree(source, destination, symlinks=True)
found = {name: [] for name in routines}
for root, _, files in os.walk(os.path.join(destination, "source")):
    # Of the system ports only Windows' is built here.
    port = os.path.relpath(root, os.path.join(destination, "source", "myport"))
    if not port.startswith("..") and not port.startswith("windows_nt"):
        continue
    for file_name in files:
        if not file_name.endswith(".c"):
            continue
        path = os.path.join(root, file_name)
        text = open(path, encoding="utf-8", errors="surrogateescape").read()
        changed = False
        for name in routines:
            # A definition: the name after a return type at the start of a line, its parameters, then its body.
            definition = re.compile(
                r"^([A-Za-z_][^\n;{}()#]*?[\s\*])" + re.escape(name) + r"(\s*\([^;{}]*?\)\s*\{)", re.M)
            text, count = definition.subn(lambda m: m.group(1) + name + "_myhtml" + m.group(2), text)
            if count:
                found[name].append(os.path.relpath(path, destination))
                changed = True
        if changed:
            open(path, "w", encoding="utf-8", errors="surrogateescape").write(text)
missing = [name for name, where in found.items() if not where]
twice = [name for name, where in found.items() if len(where) > 1]
if missing or twice:
    sys.exit("rename-myhtml-routines.py: not defined once in MyHTML: " + " ".join(missing + twice))
print("renamed %d routines" % len(routines))
