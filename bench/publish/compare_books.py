"""Checks that a published copy of a book folder holds every file of the local one, byte
for byte, and nothing else (no file left half-written under a hidden name either).

Usage: compare_books.py LOCAL_BOOK PUBLISHED_BOOK [--without NAME]... [--written NAME]...
--without NAME leaves out a file of the local book folder's top level that the target
is not sent (the web service never gets index.html). --written NAME allows a file of the
published copy's top level that the client writes itself rather than copies (the book's
manifest), when it is there and not empty. Exit status 1 names what differs.
"""
import filecmp
import os
import sys


def files_under(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    local, published = argv[1], argv[2]
    without = {argv[i + 1] for i, arg in enumerate(argv) if arg == "--without" and i + 1 < len(argv)}
    written = {argv[i + 1] for i, arg in enumerate(argv) if arg == "--written" and i + 1 < len(argv)}
    expected = files_under(local) - without
    stored = files_under(published)
    problems = [f"empty: {name}" for name in sorted(written & stored)
                if os.path.getsize(os.path.join(published, name)) == 0]
    stored -= written - expected
    problems += [f"missing: {name}" for name in sorted(expected - stored)]
    problems += [f"not in the local book: {name}" for name in sorted(stored - expected)]
    for name in sorted(expected & stored):
        if not filecmp.cmp(os.path.join(local, name), os.path.join(published, name), shallow=False):
            problems.append(f"differs: {name}")
    for line in problems[:20]:
        print(f"{published}: {line}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
