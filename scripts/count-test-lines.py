#!/usr/bin/env python3
"""Counts the test suite against the product: non-blank lines of the .cpp/.h files that git
tracks under tests/ and src/, and of tests/ the cases (the rows and their checks) apart from the
machinery that runs them (emulators, drivers, rigs, fakes, runners, helpers) and the boilerplate
(includes, namespaces, access labels). The budget: tests/ at most half of src/, the cases a
quarter to a third.

Machinery is named here: whole files, and blocks (a function or class, with the comment above
it) found by the regular expression of their first line. A block whose first line is no longer
found is reported: update its expression.

Usage: scripts/count-test-lines.py
"""
import os
import re
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

WHOLE_FILES = {
    "tests/vm/emulated_iowarrior.cpp": "emulator",
    "tests/vm/emulated_iowarrior.h": "emulator",
    "tests/vm/emulated_bridges.cpp": "emulator",
    "tests/vm/emulated_bridges.h": "emulator",
    "tests/vm/vm_rig.h": "rig",
    "tests/virtual_rig.h": "rig",
    "tests/recording_window.h": "fake",
    "tests/recording_grids.h": "fake",
    "tests/x_display_driver.h": "driver",
    "tests/window_driver.h": "driver",
    "tests/image_bytes.h": "helper",
    "tests/vm/test_vm_cli.cpp": "runner",
    "tests/vm/test_vm_window.cpp": "runner",
    "tests/test_commands.cpp": "runner",
}

BLOCKS = [  # (file, first line, kind)
    ("tests/command_table.h", r"^inline QList<Row> Rows\(\)", "runner"),
    ("tests/command_table.h", r"^inline FileWriteCalls Calls", "rig"),
    ("tests/command_table.h", r"^    void Click\(", "driver"),
    ("tests/command_table.h", r"^    void Answer\(\)", "driver"),
    ("tests/command_table.h", r"^    void Prepare\(", "rig"),
    ("tests/command_table.h", r"^    static bool InX", "runner"),
    ("tests/command_table.h", r"^    void initTestCase\(\)", "runner"),
    ("tests/command_table.h", r"^    void cleanup\(\)", "runner"),
    ("tests/command_table.h", r"^    void commandUnderFault_data\(\)", "runner"),
    ("tests/command_table.h", r"^    bool IsRed", "helper"),
    ("tests/command_table.h", r"^    Reports WrittenI2c", "helper"),
    ("tests/device_faults.h", r"^inline void ApplyOne", "rig"),
    ("tests/device_faults.h", r"^inline void Apply\(", "rig"),
    ("tests/cli_table.h", r"^inline QList<CliRow> Rows\(\)", "runner"),
    ("tests/cli_table.h", r"^struct CliRun ", "runner"),
    ("tests/cli_table.h", r"^    void initTestCase\(\)", "rig"),
    ("tests/cli_table.h", r"^    void rows_data\(\)", "runner"),
    ("tests/iowkit_contract.h", r"^class AdapterRig", "rig"),
    ("tests/iowkit_contract.h", r"^    QString Pattern\(\)", "helper"),
    ("tests/iowkit_contract.h", r"^    QString Written\(\)", "helper"),
    ("tests/iowkit_contract.h", r"^    IowKitHandle OpenEnabled", "helper"),
    ("tests/iowkit_contract.h", r"^    void Step\(", "runner"),  # the scripts' interpreter
    ("tests/iowkit_contract.h", r"^    void cleanup\(\)", "runner"),
    ("tests/iowkit_contract.h", r"^    void script\(\)", "runner"),
    ("tests/several_adapters.h", r"^    void init\(\)", "rig"),
    ("tests/test_cli.cpp", r"^CliRun RunInProcess", "runner"),
    ("tests/test_cli.cpp", r"^QStringList FromDecoder", "driver"),  # of edid-decode
    ("tests/test_cli.cpp", r"^QString EdidDecode", "driver"),
    ("tests/test_cli.cpp", r"^int main", "runner"),
    ("tests/test_iowkit_virtual.cpp", r"^int main", "runner"),
    ("tests/test_iowkit_linux.cpp", r"^QString Pairs", "helper"),
    ("tests/test_image_files.cpp", r"^QByteArray Loaded", "helper"),
    ("tests/vm/test_vm_driver.cpp", r"^class RefusedGetInfo", "rig"),
    ("tests/vm/test_vm_driver.cpp", r"^std::string NodeOfInterface", "helper"),
    ("tests/vm/test_vm_driver.cpp", r"^int main", "runner"),
]
BOILERPLATE = re.compile(
    r"^\s*(#|namespace |}\s*// namespace|using |Q_OBJECT|(public|private|private slots):)")


def tracked(folder):
    files = subprocess.run(["git", "-C", ROOT, "ls-files", folder], capture_output=True,
                           text=True, check=True).stdout.split()
    return [f for f in files if f.endswith((".cpp", ".h"))]


def lines_of(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read().split("\n")


def block_span(lines, first):
    """The lines of the block that starts at `first`, with the comment above it."""
    def code(line):  # without a trailing comment
        return line.split("//")[0].rstrip()

    indent = len(lines[first]) - len(lines[first].lstrip())
    end = first
    while not code(lines[end]).endswith(("{", "}", ";")):
        end += 1
    if code(lines[end]).endswith("{"):
        end += 1
        while not re.match(r"^" + " " * indent + r"\}", lines[end]):
            end += 1
    start = first
    while start > 0 and lines[start - 1].strip().startswith("//"):
        start -= 1
    return range(start, end + 1)


def main():
    src = sum(sum(1 for l in lines_of(f) if l.strip()) for f in tracked("src"))
    kinds = {}
    total = cases = 0
    print(f"{'cases':>6} {'other':>6} {'total':>6}  file")
    for path in tracked("tests"):
        lines = lines_of(path)
        counted = [i for i, l in enumerate(lines) if l.strip()]
        total += len(counted)
        if path in WHOLE_FILES:
            kind = WHOLE_FILES[path]
            kinds[kind] = kinds.get(kind, 0) + len(counted)
            print(f"{0:6d} {len(counted):6d} {len(counted):6d}  {path} ({kind})")
            continue
        kind_of = {}
        for file, pattern, kind in BLOCKS:
            if file != path:
                continue
            found = [i for i, l in enumerate(lines) if re.search(pattern, l)]
            if len(found) != 1:
                print(f"  block not found once: {file} {pattern}")
                continue
            for i in block_span(lines, found[0]):
                kind_of[i] = kind
        for i in counted:
            kind = kind_of.get(i) or ("boilerplate" if BOILERPLATE.match(lines[i]) else None)
            if kind:
                kinds[kind] = kinds.get(kind, 0) + 1
        own = sum(1 for i in counted if i not in kind_of and not BOILERPLATE.match(lines[i]))
        cases += own
        print(f"{own:6d} {len(counted) - own:6d} {len(counted):6d}  {path}")
    print(f"\nsrc/ {src}; tests/ {total} ({100 * total / src:.1f}%; half: {src // 2})")
    print(f"cases {cases} ({100 * cases / src:.1f}%; a third: {src // 3}); with helpers and "
          f"boilerplate {cases + kinds.get('helper', 0) + kinds.get('boilerplate', 0)}")
    print("the rest: " + ", ".join(f"{k} {n}" for k, n in sorted(kinds.items())))


if __name__ == "__main__":
    main()
