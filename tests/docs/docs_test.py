#!/usr/bin/python3
"""Runs the examples of README.md, README.zh-CN.md and docs/*.md that are
marked as runnable and compares what they print with what the page shows.

A runnable block is a fenced block right after the line <!-- runnable -->.
Its lines that begin with "$ " are commands (a line ending in a backslash or
"|" goes on in the next one); the lines after a command, up to the next
command, are what it prints: standard output, then standard error. A line
that is exactly "..." stands for any number of lines. The blocks of one page
run in order in one shell, in a fresh folder laid out like the source tree
(see lay_out), so a variable or file one block makes is there for the next.
The folder's absolute path, where it is printed, reads as $PWD.

Usage: docs_test.py REPO PIVRA-CLI FIXTURES [PAGE...]
FIXTURES holds demo_target.exe and demo_target64.exe as the win32 preset
builds them, and fit-demo.exe as scripts/fit-demo builds it. Without pages every page of the repository is run.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

MARK = "<!-- runnable -->"
WINE32 = "/usr/lib/i386-linux-gnu/wine/i386-windows"


def blocks(text):
    """The runnable blocks of a page: (line number, [lines])."""
    lines = text.split("\n")
    out = []
    i = 0
    while i < len(lines):
        if lines[i].strip() == MARK:
            j = i + 1
            if j >= len(lines) or not lines[j].startswith("```"):
                raise ValueError(f"line {i + 1}: {MARK} not followed by a fenced block")
            k = j + 1
            while k < len(lines) and not lines[k].startswith("```"):
                k += 1
            if k == len(lines):
                raise ValueError(f"line {j + 1}: the fenced block does not end")
            out.append((j + 1, lines[j + 1:k]))
            i = k
        i += 1
    return out


def commands(lines):
    """[(command, [expected lines])] of one block."""
    out = []
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.startswith("$ "):
            raise ValueError(f"output before the first command: {line!r}")
        cmd = line[2:]
        while (cmd.endswith("\\") or cmd.endswith("|")) and i + 1 < len(lines):
            i += 1
            cmd += "\n" + lines[i]
        i += 1
        expected = []
        while i < len(lines) and not lines[i].startswith("$ "):
            expected.append(lines[i])
            i += 1
        out.append((cmd, expected))
    return out


def matches(expected, actual):
    pattern = "".join(r"(?:[^\n]*\n)*?" if e == "..." else re.escape(e) + r"\n" for e in expected)
    return re.fullmatch(pattern, actual) is not None


def lay_out(folder, repo, cli, fixtures):
    """The source tree as the examples see it: the scripts, the demo's rule
    sets, the PO files, the two demo targets where the win32 preset puts
    them, the native tool where the linux preset puts it, and a copy of
    Wine's notepad.exe; the fit example's program and its PO file."""
    for name in ("scripts", "demo", "docs"):
        os.symlink(os.path.join(repo, name), os.path.join(folder, name))
    demo = os.path.join(folder, "build", "win32", "demo")
    os.makedirs(demo)
    for exe in ("demo_target.exe", "demo_target64.exe"):
        shutil.copy(os.path.join(fixtures, exe), os.path.join(demo, exe))
        shutil.copy(os.path.join(fixtures, exe), os.path.join(folder, exe))
    clidir = os.path.join(folder, "build", "linux", "src", "cli")
    os.makedirs(clidir)
    os.symlink(cli, os.path.join(clidir, "pivra-cli"))
    shutil.copy(os.path.join(WINE32, "notepad.exe"), folder)
    shutil.copy(os.path.join(fixtures, "fit-demo.exe"), folder)
    shutil.copy(os.path.join(repo, "docs", "po", "fit-demo.zh-CN.po"), folder)


def run_page(path, repo, cli, fixtures):
    """Number of examples that drifted (each one is printed)."""
    with open(path, encoding="utf-8") as f:
        found = blocks(f.read())
    if not found:
        return 0, 0
    failures = 0
    total = 0
    with tempfile.TemporaryDirectory(prefix="pivra-docs-") as folder:
        folder = os.path.realpath(folder)
        lay_out(folder, repo, cli, fixtures)
        results = os.path.join(folder, ".results")
        os.mkdir(results)
        script = ["cd " + folder]
        cases = []
        for start, lines in found:
            for cmd, expected in commands(lines):
                n = len(cases)
                cases.append((start, cmd, expected))
                script.append(f"{{ {cmd}\n}} >{results}/{n}.out 2>{results}/{n}.err </dev/null")
        env = dict(os.environ, PATH=os.path.dirname(cli) + os.pathsep + os.environ.get("PATH", ""),
                   LC_ALL="C.UTF-8")
        subprocess.run(["/bin/bash", "-c", "\n".join(script)], env=env, timeout=600, check=False)
        for n, (start, cmd, expected) in enumerate(cases):
            total += 1
            actual = ""
            for stream in ("out", "err"):
                name = f"{results}/{n}.{stream}"
                if os.path.exists(name):
                    with open(name, encoding="utf-8", errors="replace") as f:
                        actual += f.read()
            actual = actual.replace(folder, "$PWD")
            if actual and not actual.endswith("\n"):
                actual += "\n"
            if not matches(expected, actual):
                failures += 1
                print(f"{path}: block at line {start}: $ {cmd}")
                print("  expected:\n" + "".join(f"    {e}\n" for e in expected), end="")
                print("  printed:\n" + "".join(f"    {a}\n" for a in actual.split("\n")[:-1]), end="")
    return total, failures


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    repo, cli, fixtures = (os.path.realpath(a) for a in sys.argv[1:4])
    pages = sys.argv[4:]
    if not pages:
        docs = os.path.join(repo, "docs")
        pages = [os.path.join(repo, "README.md"), os.path.join(repo, "README.zh-CN.md")]
        pages += sorted(os.path.join(docs, p) for p in os.listdir(docs) if p.endswith(".md"))
    total = failures = 0
    for page in pages:
        t, f = run_page(page, repo, cli, fixtures)
        print(f"{os.path.relpath(page, repo)}: {t} commands, {f} drifted")
        total += t
        failures += f
    if total == 0:
        print("no runnable examples found")
        return 1
    print(f"{total} commands run, {failures} drifted")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
