#!/usr/bin/env python3
"""Checks that every image the README and the Japanese guide show is retaken by
a screenshot tour, so that a new image cannot be added by hand:

- every image README.md and docs/ja/guide.md link is a row of
  docs/screenshots.tsv and a file on disk, and every row is linked;
- every image file under docs/ is a row (no image left behind by a change);
- a row's tour is one of tools/screenshot_tour.cpp's kTours, its shot is listed
  for that tour, and the source takes that shot (shoot("NAME") or a box's
  shotName = "NAME"), and takes no shot kTours does not list (a run of the
  tour fails when it misses a listed shot);
- the image on disk has the row's screen size (a shot of another size, or
  a cut-out, was not taken by the tour);
- a row whose tour is a test script (tests/tools/*.py: a web page shot in a
  browser) names a script that exists; a page the application writes itself
  (madeShot) or a browser's shot may have any size.

Usage: docs_screenshots_test.py [SOURCE_DIR]   (exit 0 all hold, 1 a fault,
2 bad usage)
"""
import os
import re
import struct
import sys

DOCS = ["README.md", os.path.join("docs", "ja", "guide.md")]
IMAGE = re.compile(r"\.(png|jpe?g|gif|webp|svg)$", re.IGNORECASE)
# [text](target) and ![alt](target), and <img src="target">
LINK = re.compile(r"\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)|<img[^>]*\ssrc=\"([^\"]+)\"")


def linked_images(root):
    found = {}  # path from the root -> where it is linked
    for doc in DOCS:
        base = os.path.dirname(doc)
        with open(os.path.join(root, doc), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                for m in LINK.finditer(line):
                    target = (m.group(1) or m.group(2)).split("#")[0]
                    if "://" in target or not IMAGE.search(target):
                        continue
                    path = os.path.normpath(os.path.join(base, target))
                    found.setdefault(path, f"{doc}:{number}")
    return found


def tours(source):
    """kTours of the tour's source: {tour: [shots]}."""
    table = re.search(r"kTours\s*=\s*\{(.*?)\n\};", source, re.S)
    if not table:
        return {}
    result = {}
    for m in re.finditer(r"\{\s*\"([\w-]+)\"\s*,\s*\{([^{}]*)\}\s*\}", table.group(1)):
        result[m.group(1)] = re.findall(r"\"([^\"]+)\"", m.group(2))
    return result


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def main():
    if len(sys.argv) > 2 or (len(sys.argv) == 2 and sys.argv[1] in ("-h", "--help")):
        print(__doc__)
        return 0 if len(sys.argv) == 2 else 2
    root = sys.argv[1] if len(sys.argv) == 2 else os.path.dirname(
        os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    faults = []
    source = ""
    for name in sorted(os.listdir(os.path.join(root, "tools"))):
        if name.endswith(".cpp"):
            with open(os.path.join(root, "tools", name), encoding="utf-8") as f:
                source += f.read()
    # Shots the application wrote itself (a report page): any size.
    made = set(re.findall(r'madeShot\("([^"]+)"\)', source))
    listed = tours(source)
    if not listed:
        faults.append("tools/screenshot_tour.cpp: no kTours table")
    for tour, shots in listed.items():
        for shot in shots:
            if (f'shoot("{shot}")' not in source and f'shotName = "{shot}"' not in source
                    and shot not in made):
                faults.append(f"tour {tour}: shot {shot} is listed but never taken")
    every = {shot for shots in listed.values() for shot in shots}
    for shot in re.findall(r'(?:shoot\(|shotName = )"([^"]+)"', source):
        if shot not in every:
            faults.append(f"tools/screenshot_tour.cpp: shot {shot} is in no tour of kTours")

    rows = {}
    manifest = os.path.join("docs", "screenshots.tsv")
    try:
        lines = open(os.path.join(root, manifest), encoding="utf-8").read().splitlines()
    except OSError as e:
        faults.append(f"{manifest}: {e.strerror}")
        lines = []
    for number, line in enumerate(lines, 1):
        if not line or line.startswith("#") or line.startswith("image\t"):
            continue
        where = f"{manifest}:{number}"
        fields = line.split("\t")
        if len(fields) != 4:
            faults.append(f"{where}: not four tab-separated columns")
            continue
        image, tour, screen, shot = fields
        image = os.path.normpath(image)
        if image in rows:
            faults.append(f"{where}: {image} is listed twice")
        rows[image] = (tour, screen, shot, where)
        if not re.fullmatch(r"\d+x\d+", screen):
            faults.append(f"{where}: screen {screen!r} is not WIDTHxHEIGHT")
        if tour.endswith(".py"):
            # A browser's shot, which that test takes: any size.
            if not os.path.isfile(os.path.join(root, tour)):
                faults.append(f"{where}: no test {tour}")
            made.add(shot)
        elif tour not in listed:
            faults.append(f"{where}: no tour named {tour}")
        elif shot not in listed[tour]:
            faults.append(f"{where}: the {tour} tour takes no shot {shot}")

    links = linked_images(root)
    for image, where in sorted(links.items()):
        if image not in rows:
            faults.append(f"{where}: {image} is not in {manifest}: no tour retakes it")
        if not os.path.isfile(os.path.join(root, image)):
            faults.append(f"{where}: {image} is missing")
    for image, (tour, screen, shot, where) in sorted(rows.items()):
        if image not in links:
            faults.append(f"{where}: {image} is linked from neither README.md nor the guide")
        path = os.path.join(root, image)
        if os.path.isfile(path) and re.fullmatch(r"\d+x\d+", screen) and shot not in made:
            size = png_size(path)
            want = tuple(int(n) for n in screen.split("x"))
            if size != want:
                faults.append(f"{where}: {image} is {size and '%dx%d' % size}, "
                              f"not a shot of the {screen} screen")
    for folder, _, files in os.walk(os.path.join(root, "docs")):
        for name in files:
            image = os.path.relpath(os.path.join(folder, name), root)
            if IMAGE.search(name) and image not in rows:
                faults.append(f"{image}: an image no tour retakes (not in {manifest})")

    for fault in faults:
        print(fault)
    if faults:
        return 1
    print(f"{len(rows)} images, each linked, on disk and retaken by its tour")
    return 0


if __name__ == "__main__":
    sys.exit(main())
