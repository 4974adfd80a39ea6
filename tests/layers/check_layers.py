#!/usr/bin/env python3
"""Fails on any #include that crosses a layer, or a subsystem of the core, the wrong way.

The layers, lowest first (ARCHITECTURE.md):
  kit    KestruneRemoteKit/     depends on nothing of ours
  core   Kestrune/              the kit only; no platform library headers
  linux  platform/linux/        implements the core's and the kit's interfaces
  app    app/, tools/           the Qt-free composition root
  shell  shell/                 the Qt application, its windows and its Qt-side root
Qt appears only in shell/ and platform/linux/qt/. Inside the core, each subsystem (a folder of
Kestrune/) has a rank in ARCHITECTURE.md's table "The core's subsystems" and may include only its
own folder and subsystems of a lower rank.

Usage: check_layers.py SOURCE_ROOT   (prints each crossing; exit status 1 when there is one)
"""
import re
import sys
from pathlib import Path

PRODUCT_FOLDERS = ("KestruneRemoteKit", "Kestrune", "platform", "app", "shell", "tools")
SOURCE_SUFFIXES = {".hpp", ".h", ".cpp", ".cc"}

# Which layers' headers each layer may include.
MAY_INCLUDE = {
    "kit": {"kit"},
    "core": {"kit", "core"},
    "linux": {"kit", "core", "linux"},
    "app": {"kit", "core", "linux", "app"},
    "shell": {"kit", "core", "linux", "app", "shell"},
}

# Headers of platform libraries, by the layers that may use them. The kit may use what it needs
# for pictures and transport (libjpeg, libvips with GLib's object system, OpenSSL, Boost).
PLATFORM_HEADERS = [
    ("Qt", re.compile(r"^(Q[A-Za-z]+|Qt[A-Za-z]*/.*)$"), {"shell", "linux/qt"}),
    ("X11", re.compile(r"^X11/"), {"linux"}),
    ("Wayland", re.compile(r"^(wayland-|xkbcommon/)"), {"linux"}),
    ("libsecret", re.compile(r"^libsecret/"), {"linux"}),
    ("libcurl", re.compile(r"^curl/"), {"linux"}),
    ("PulseAudio", re.compile(r"^pulse/"), {"linux"}),
    ("pocketsphinx", re.compile(r"^pocketsphinx"), {"linux"}),
    ("AT-SPI", re.compile(r"^(atspi/|atk)"), {"linux"}),
    ("Avahi", re.compile(r"^avahi-"), {"linux"}),
    ("D-Bus", re.compile(r"^(gio/|dbus/|systemd/sd-bus)"), {"linux"}),
]

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')

# A row of the subsystem table: | 2 | `link` | ... |, one or more folders a row.
SUBSYSTEM_ROW = re.compile(r"^\|\s*(\d+)\s*\|((?:\s*`[a-z]+`\s*,?)+)\|")


def subsystem_ranks(root: Path) -> dict[str, int]:
    """The rank of each core subsystem, read from ARCHITECTURE.md's table."""
    text = (root / "ARCHITECTURE.md").read_text()
    section = text.split("## The core's subsystems", 1)[-1].split("\n## ", 1)[0]
    ranks = {}
    for line in section.splitlines():
        row = SUBSYSTEM_ROW.match(line)
        if row:
            for name in re.findall(r"`([a-z]+)`", row.group(2)):
                ranks[name] = int(row.group(1))
    return ranks


def subsystem_of(path: str) -> str | None:
    parts = path.split("/")
    return parts[1] if parts[0] == "Kestrune" and len(parts) > 2 else None


def layer_of(path: str) -> str | None:
    """The layer of a file or include path relative to the source root."""
    if path.startswith("KestruneRemoteKit/"):
        return "kit"
    if path.startswith("app/") or path.startswith("tools/"):
        return "app"
    if path.startswith("shell/"):
        return "shell"
    if path.startswith("Kestrune/"):
        return "core"
    if path.startswith("platform/"):
        return "linux"
    if path.startswith("tests/"):
        return "tests"
    return None


def platform_place(path: str, layer: str) -> str:
    return "linux/qt" if path.startswith("platform/linux/qt/") else layer


def check(root: Path) -> list[str]:
    crossings = []
    ranks = subsystem_ranks(root)
    for folder in sorted((root / "Kestrune").iterdir()):
        if folder.is_dir() and folder.name not in ranks:
            crossings.append(f"Kestrune/{folder.name}/: a core subsystem with no rank in "
                             "ARCHITECTURE.md's table")
    for folder in PRODUCT_FOLDERS:
        for file in sorted((root / folder).rglob("*")):
            if file.suffix not in SOURCE_SUFFIXES or not file.is_file():
                continue
            relative = file.relative_to(root).as_posix()
            layer = layer_of(relative)
            place = platform_place(relative, layer)
            for number, line in enumerate(file.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                quoted, header = match.group(1) == '"', match.group(2)
                where = f"{relative}:{number}"
                if quoted:
                    # Spelled from the source root, or beside the including file (tools only).
                    beside = file.parent / header
                    target = (beside.resolve().relative_to(root.resolve()).as_posix()
                              if beside.exists() else header)
                    target_layer = layer_of(target)
                    if target_layer is None:
                        crossings.append(f"{where}: includes \"{header}\", which is no layer's")
                    elif target_layer not in MAY_INCLUDE[layer]:
                        crossings.append(f"{where}: includes \"{header}\" ({layer} -> "
                                         f"{target_layer}; {layer} may include only "
                                         f"{', '.join(sorted(MAY_INCLUDE[layer]))})")
                    elif layer == target_layer == "core" and \
                            not may_include_subsystem(relative, target, ranks):
                        crossings.append(f"{where}: includes \"{header}\" (core subsystem "
                                         f"{subsystem_of(relative)} -> {subsystem_of(target)}; "
                                         "a subsystem may include only lower-ranked ones)")
                    elif target.startswith("platform/linux/qt/") and \
                            place not in {"shell", "linux/qt"}:
                        crossings.append(f"{where}: includes \"{header}\" (Qt code) outside "
                                         "shell/ and platform/linux/qt/")
                    continue
                for library, pattern, allowed in PLATFORM_HEADERS:
                    if not pattern.match(header):
                        continue
                    if place not in allowed and not (place == "linux/qt" and "linux" in allowed):
                        crossings.append(f"{where}: includes <{header}> ({library} in {place}; "
                                         f"allowed only in {', '.join(sorted(allowed))})")
    return crossings


def may_include_subsystem(source: str, target: str, ranks: dict[str, int]) -> bool:
    mine, theirs = subsystem_of(source), subsystem_of(target)
    if mine == theirs:
        return True
    if mine not in ranks or theirs not in ranks:
        return False
    return ranks[theirs] < ranks[mine]


def main() -> int:
    root = Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    crossings = check(root)
    for crossing in crossings:
        print(crossing)
    if crossings:
        print(f"{len(crossings)} include(s) cross a layer the wrong way; see ARCHITECTURE.md")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
