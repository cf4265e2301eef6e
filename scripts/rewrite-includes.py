#!/usr/bin/env python3
"""Spell every include that crosses a library by its library's path.

A header of another library is included as <hostkit/core/dataset.h>,
<reportkit/model/reportrun.h>, <proto/contract.h>, <qfx31700/remote/filtro.h>
..., so a reader sees where it comes from; an include inside one library
stays as it is ("dataset.h", "navigation/modulestate.h"). The build gives each
library a root that reaches its own folder under that spelling alone (see
qfx_include_root in CMakeLists.txt), so the layering still holds; a library's
own folder is on its own sources' include path alone, so a header that
includes another folder of its library spells that include with its library
too (the script leaves such an include alone).

Run from anywhere: scripts/rewrite-includes.py [--check]. It is idempotent:
an include already spelt with its library is left alone. With --check it
changes nothing, prints each include that would change and exits 1 (the
include_spelling test). An include that two libraries could both answer is
reported and left for a person (and fails --check).
"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# A library's folder in the repository, which is also how it is spelt.
LIBRARIES = [
    "proto",
    "hostkit/core",
    "hostkit/widgets",
    "reportkit/model",
    "reportkit/widgets",
    "qfx31700",
    "hostapp",
    "qfximport",
]

INCLUDE = re.compile(r'^(\s*#\s*include\s+)"([^"]+)"(.*)$')


def generated_headers():
    """The headers protoc writes for proto/, which live in the build tree."""
    names = set()
    for proto in (ROOT / "proto").glob("*.proto"):
        names.add(proto.stem + ".pb.h")
        names.add(proto.stem + ".grpc.pb.h")
    return names


def owner_of(path):
    relative = path.relative_to(ROOT).as_posix()
    owners = [lib for lib in LIBRARIES if relative.startswith(lib + "/")]
    return max(owners, key=len) if owners else None


def libraries_answering(header, generated):
    found = [lib for lib in LIBRARIES if (ROOT / lib / header).is_file()]
    if header in generated and "proto" not in found:
        found.append("proto")
    return found


def rewrite_line(line, source, owner, generated, problems):
    match = INCLUDE.match(line)
    if not match:
        return line
    prefix, header, rest = match.groups()
    if (source.parent / header).is_file():
        return line  # beside the file: inside its own library or folder
    if any(header.startswith(lib + "/") for lib in LIBRARIES):
        return line  # already names its library
    found = libraries_answering(header, generated)
    if not found or owner in found:
        return line  # a system or third-party header, or one of its own library's
    if len(found) > 1:
        problems.append(f"{source.relative_to(ROOT)}: \"{header}\" is in {', '.join(found)}")
        return line
    return f"{prefix}<{found[0]}/{header}>{rest}"


def tracked_sources():
    listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "*.cpp", "*.h"], cwd=ROOT,
                            check=True, capture_output=True, text=True).stdout.split()
    return [ROOT / name for name in listed if (ROOT / name).is_file()]


def main():
    check_only = "--check" in sys.argv[1:]
    generated = generated_headers()
    problems, changed = [], []
    for source in tracked_sources():
        text = source.read_text(encoding="utf-8")
        owner = owner_of(source)
        lines = text.splitlines(keepends=True)
        new_lines = []
        for line in lines:
            body = line.rstrip("\r\n")
            ending = line[len(body):]
            rewritten = rewrite_line(body, source, owner, generated, problems)
            if check_only and rewritten != body:
                print(f"{source.relative_to(ROOT)}: {body.strip()} -> {rewritten.strip()}")
            new_lines.append(rewritten + ending)
        new_text = "".join(new_lines)
        if new_text != text:
            changed.append(source)
            if not check_only:
                source.write_text(new_text, encoding="utf-8")
    for problem in problems:
        print("ambiguous, left as is:", problem, file=sys.stderr)
    if changed and not check_only:
        subprocess.run(["clang-format", "-i", *map(str, changed)], cwd=ROOT, check=True)
    if not check_only:
        for source in changed:
            print(source.relative_to(ROOT))
    if check_only and (changed or problems):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
