#!/usr/bin/env python3
"""Checks the tree's #include lines against its rooms.

The rooms, lowest first: the engine's own (core <- platform <- codec <-
archive <- ops <- its door vzrpack.h) <- modkit <- present <- ui <-
toolset, quickpack, and modkit <- cli. A room is a folder; a file belongs to
the deepest room its path lies in. A file may include its own room's files
and those of the rooms below it, never a higher room's nor a sibling's (cli
knows nothing of present and ui, nor they of it, and the two windows know
nothing of each other). And no file may reach itself through its includes.
Tests, benchmarks, fuzzers and desktop/ sit above every room.

Usage: check-includes.py [SOURCE_DIR]; exit 0 when the tree keeps the rules,
1 with one line per breach.
"""
import os
import re
import sys

# Each room with the rooms below it, which it may include.
ENGINE = ["engine/core", "engine/platform", "engine/codec", "engine/archive", "engine/ops", "engine"]
BELOW = {room: set(ENGINE[:i]) for i, room in enumerate(ENGINE)}
BELOW["modkit"] = set(ENGINE)
BELOW["present"] = BELOW["modkit"] | {"modkit"}
BELOW["cli"] = BELOW["modkit"] | {"modkit"}
BELOW["ui"] = BELOW["present"] | {"present"}
BELOW["toolset"] = BELOW["ui"] | {"ui"}
BELOW["quickpack"] = BELOW["ui"] | {"ui"}
ROOMS = list(BELOW)


def room_of(root, path):
    rel = os.path.relpath(path, root).replace(os.sep, "/")
    best = None
    for room in ROOMS:
        if rel.startswith(room + "/") and (best is None or len(room) > len(best)):
            best = room
    return best
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def sources(root):
    for top in sorted({room.split("/")[0] for room in ROOMS}):
        for dirpath, dirs, names in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(names):
                if name.endswith((".h", ".cpp")):
                    path = os.path.join(dirpath, name)
                    yield room_of(root, path), path


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    files = list(sources(root))
    by_name = {}
    for room, path in files:
        by_name.setdefault(os.path.basename(path), []).append((room, path))
    problems = []
    edges = {}
    for room, path in files:
        rel = os.path.relpath(path, root)
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        edges[rel] = []
        for included in INCLUDE.findall(text):
            here = os.path.normpath(os.path.join(os.path.dirname(path), included))
            if os.path.exists(here):
                targets = [(r, p) for r, p in files if os.path.samefile(p, here)]
            else:
                targets = by_name.get(os.path.basename(included), [])
            if not targets:
                continue  # a header of a library (Qt's ui files, generated ones)
            if len(targets) > 1:
                problems.append(f"{rel}: \"{included}\" names {len(targets)} files")
                continue
            target_room, target = targets[0]
            target_rel = os.path.relpath(target, root)
            edges[rel].append(target_rel)
            if target_room != room and target_room not in BELOW[room]:
                problems.append(f"{rel}: includes {target_rel}, of room {target_room}, not below {room}")

    # Circles: a depth-first walk that meets a file still on its path.
    state = {}

    def walk(node, trail):
        state[node] = "open"
        trail.append(node)
        for nxt in edges.get(node, []):
            if state.get(nxt) == "open":
                problems.append("include circle: " + " -> ".join(trail[trail.index(nxt):] + [nxt]))
            elif nxt not in state:
                walk(nxt, trail)
        trail.pop()
        state[node] = "done"

    for node in sorted(edges):
        if node not in state:
            walk(node, [])

    for p in problems:
        print(p)
    print(f"{len(files)} files, {sum(len(e) for e in edges.values())} includes checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
