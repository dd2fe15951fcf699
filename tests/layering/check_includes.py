"""The build's layering, checked: every quoted include of a src/ header is allowed.

A file under src/ belongs to the library whose folder is the longest prefix of its path (the
module's own folder, python, takes its subfolders other than binding). It may include headers
of that library's folders and of every library the library depends on, directly or through
another; anything else is an include against the layering. The library table comes from the
build (vok_layer in cmake/VokTargets.cmake), so a dependency is allowed exactly when CMake links it.

usage: check_includes.py LAYERS_FILE SRC_DIR   (exit status 1 and one line per offending include)
"""

import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def read_layers(path):
    folders, deps = {}, {}
    for line in pathlib.Path(path).read_text().splitlines():
        if not line.strip():
            continue
        name, dirs, *rest = line.split(" ")
        folders[name] = [d for d in dirs.split(",") if d]
        deps[name] = [d for d in (rest[0] if rest else "").split(",") if d]
    return folders, deps


def closure(name, deps):
    seen, todo = {name}, [name]
    while todo:
        for dep in deps.get(todo.pop(), []):
            if dep not in seen:
                seen.add(dep)
                todo.append(dep)
    return seen


def owner(relative, folder_owner):
    """The library whose folder is the longest prefix of `relative` (a path under src/)."""
    parts = relative.split("/")
    for n in range(len(parts) - 1, 0, -1):
        found = folder_owner.get("/".join(parts[:n]))
        if found:
            return found
    return None


def main(layers_file, src_dir):
    folders, deps = read_layers(layers_file)
    folder_owner = {d: name for name, dirs in folders.items() for d in dirs}
    src = pathlib.Path(src_dir)
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".def"):
            continue
        relative = path.relative_to(src).as_posix()
        library = owner(relative, folder_owner)
        if library is None:
            faults.append(f"{relative}: no library builds this folder")
            continue
        allowed = closure(library, deps)
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if not (src / included).exists():
                continue  # a header of a test or an outside library
            target = owner(included, folder_owner)
            if target not in allowed:
                faults.append(f"{relative}: includes {included} ({target}), "
                              f"which {library} does not depend on")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
