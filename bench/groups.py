#!/usr/bin/env python3
"""Reads the duplicate groups that one tool reported and prints them in one
canonical form: one group a line, its paths sorted and joined by TAB, the
lines sorted. Only groups of two or more files count.

    bench/groups.py TOOL FILE
"""
import sys
from collections import defaultdict


def blank_separated(text):
    groups, group = [], []
    for line in text.split("\n"):
        line = line.rstrip("\r")
        if line.strip() == "":
            if group:
                groups.append(group)
            group = []
        else:
            group.append(line)
    if group:
        groups.append(group)
    return groups


def dupehunt(text):
    lines = text.replace("\r\n", "\n").split("\n")
    groups, group, inside = [], None, False
    for line in lines:
        if line == "DUPEHUNT comparing log:":
            inside = True
        elif not inside:
            continue
        elif line == " ":
            if group:
                groups.append(group)
            group = []
        elif line == "Summary:":
            break
        elif group is not None:
            group.append(line)
    if group:
        groups.append(group)
    return groups


def rdfind(text):
    byid = defaultdict(list)
    for line in text.split("\n"):
        if not line or line.startswith("#"):
            continue
        fields = line.split(" ", 7)
        byid[abs(int(fields[1]))].append(fields[7])
    return list(byid.values())


def duff(text):
    # -f '%n' prints only the names; clusters are separated by a header line
    # made with -f? duff's default header begins with a count: parse that.
    groups, group = [], None
    for line in text.split("\n"):
        if " files in cluster " in line and line.split(" ", 1)[0].isdigit():
            if group:
                groups.append(group)
            group = []
        elif line and group is not None:
            group.append(line)
    if group:
        groups.append(group)
    return groups


PARSERS = {"dupehunt": dupehunt, "fdupes": blank_separated, "jdupes": blank_separated,
           "rmlint": blank_separated, "rdfind": rdfind, "duff": duff}

tool, path = sys.argv[1], sys.argv[2]
with open(path, encoding="utf-8", errors="surrogateescape") as f:
    text = f.read()
out = sorted("\t".join(sorted(g)) for g in PARSERS[tool](text) if len(g) > 1)
sys.stdout.write("".join(line + "\n" for line in out))
