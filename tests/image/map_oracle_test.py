#!/usr/bin/python3
"""Compares the image map (pivra-image-dump) with independent readers on the PE
files Wine ships: Debian's pefile for sections, imports, exports, the resource
tree, string tables and version strings; binutils' objdump for long section
names; and windres, which decompiles menus and dialogs, on a few programs (on
every image with --windres-all).

    map_oracle_test.py DUMP [--windres-all] [--sample N] [IMAGE...]

--sample N takes every Nth image (the sanitizer build, where the map runs slower).

Prints one line per image that differs and a summary; exit code 1 when any
image differs or no image was found."""
import collections
import glob
import json
import os
import re
import subprocess
import sys

import pefile

WINE_DIRS = ["/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"]
WINDRES_IMAGES = ["notepad.exe", "winemine.exe"]
RT_STRING, RT_VERSION, RT_MENU, RT_DIALOG = 6, 16, 4, 5


def wine_images():
    images = []
    for folder in WINE_DIRS:
        for path in sorted(glob.glob(os.path.join(folder, "*"))):
            with open(path, "rb") as f:
                if f.read(2) == b"MZ":
                    images.append(path)
    return images


def dump(tool, path):
    out = subprocess.run([tool, path], check=True, stdout=subprocess.PIPE).stdout
    return json.loads(out)


def binutils(m, tool):
    return ("x86_64" if m["pe64"] else "i686") + "-w64-mingw32-" + tool


def objdump_names(path, m):
    out = subprocess.run([binutils(m, "objdump"), "-h", path], stdout=subprocess.PIPE, text=True).stdout
    return [m.group(1) for m in re.finditer(r"^\s*\d+\s+(\S+)\s+[0-9a-f]{8}", out, re.M)]


def compare_sections(pe, path, m, errors):
    size = os.path.getsize(path)
    names = [s.Name.rstrip(b"\0").decode("latin-1") for s in pe.sections]
    if any(n.startswith("/") for n in names):
        names = objdump_names(path, m)
    theirs = []
    for s, name in zip(pe.sections, names):
        raw = min(s.PointerToRawData, size)
        theirs.append((name, s.VirtualAddress, s.Misc_VirtualSize, raw, min(s.SizeOfRawData, size - raw)))
    ours = [(s["name"], s["va"], s["vsize"], s["raw_offset"], s["raw_size"]) for s in m.get("sections", [])]
    if ours != theirs:
        errors.append("sections: %s != %s" % (ours, theirs))


def name_of(imp):
    return imp.name.decode("latin-1") if imp.name is not None else "#%d" % imp.ordinal


def compare_imports(pe, m, errors):
    theirs = [(d.dll.decode("latin-1"), [name_of(i) for i in d.imports])
              for d in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    ours = [(i["dll"], i["functions"]) for i in m.get("imports", [])]
    if ours != theirs:
        errors.append("imports differ: %d DLLs here, %d in pefile" % (len(ours), len(theirs)))


def compare_exports(pe, m, errors):
    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    theirs = sorted(s.name.decode("latin-1") for s in exports.symbols if s.name) if exports else []
    if sorted(m.get("exports", [])) != theirs:
        errors.append("exports differ: %d names here, %d in pefile" % (len(m.get("exports", [])), len(theirs)))


def resource_entries(pe):
    entries = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for t in root.entries if root is not None else []:
        tkey = str(t.name) if t.name is not None else t.id
        for n in t.directory.entries if hasattr(t, "directory") else []:
            nkey = str(n.name) if n.name is not None else str(n.id)
            for l in n.directory.entries if hasattr(n, "directory") else []:
                if hasattr(l, "data"):
                    entries.append((tkey, nkey, l.id, l.data.struct.OffsetToData, l.data.struct.Size))
    return entries


def compare_resources(pe, m, errors):
    ours = [(r["type"] if r["type_id"] == 0 else r["type_id"], r["name"], r["lang"], r["rva"], r["size"])
            for r in m.get("resources", [])]
    if sorted(ours, key=repr) != sorted(resource_entries(pe), key=repr):
        errors.append("resource tree differs: %d entries here, %d in pefile" % (len(ours), len(resource_entries(pe))))


def compare_strings(pe, m, errors):
    # Each language of each block through pefile's own string-table reader.
    ours = collections.defaultdict(dict)
    for t in m.get("texts", []):
        g = re.match(r"STRINGTABLE block (\d+) (.*), string 0x([0-9A-F]{4})$", t["label"])
        if g:
            ours[(g.group(1), g.group(2))][int(g.group(3), 16)] = t["text"]
    langs = {r["lang"]: r["label"].split(" ", 2)[2] for r in m.get("resources", [])}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for t in root.entries if root is not None else []:
        if t.id != RT_STRING:
            continue
        for n in t.directory.entries:
            for l in n.directory.entries if n.id is not None else []:
                theirs = {}
                data = pe.get_data(l.data.struct.OffsetToData, l.data.struct.Size)
                pefile.parse_strings(data, (n.id - 1) * 16, theirs)
                mine = ours.get((str(n.id), langs.get(l.id)), {})
                if mine != theirs:
                    diff = [k for k in set(theirs) | set(mine) if theirs.get(k) != mine.get(k)]
                    errors.append("STRINGTABLE block %d lang 0x%04X: %d strings differ, first 0x%04X" %
                                  (n.id, l.id, len(diff), min(diff)))


def compare_version(pe, m, errors):
    theirs = collections.Counter()
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                for k, v in table.entries.items():
                    theirs[(k.decode("utf-8"), v.decode("utf-8"))] += 1
    ours = collections.Counter()
    key = None
    for t in m.get("texts", []):
        if t["label"].startswith("VERSIONINFO ") and t["label"].endswith(", key"):
            key = t["text"]
            ours[(key, "")] += 1
        elif t["label"].startswith("VERSIONINFO ") and t["label"].endswith(", value"):
            ours[(key, "")] -= 1
            ours[(key, t["text"])] += 1
    ours = +ours
    if ours != theirs:
        errors.append("version strings differ: %s" % sorted((ours - theirs) + (theirs - ours))[:3])


LITERAL = re.compile(r'L?"((?:[^"\\]|\\.|"")*)"')


def unescape(s):
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c == '"' and s[i + 1:i + 2] == '"':
            out.append('"')
            i += 2
        elif c != "\\":
            out.append(c)
            i += 1
        else:
            e = s[i + 1]
            if e == "x":
                g = re.match(r"[0-9a-fA-F]{1,4}", s[i + 2:])
                out.append(chr(int(g.group(0), 16)))
                i += 2 + len(g.group(0))
            elif e in "01234567":
                g = re.match(r"[0-7]{1,3}", s[i + 1:])
                out.append(chr(int(g.group(0), 8)))
                i += 1 + len(g.group(0))
            else:
                out.append({"n": "\n", "r": "\r", "t": "\t", "a": "\a", "b": "\b", "f": "\f", "v": "\v"}.get(e, e))
                i += 2
    return "".join(out)


def windres_blocks(path, m):
    """(type, name, langid) -> list of (literal, menu item id or None, line keyword)."""
    run = subprocess.run([binutils(m, "windres"), "-i", path, "-O", "rc"], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    if run.returncode != 0 and b"no resource section" in run.stderr:
        return {}
    if run.returncode != 0:
        raise RuntimeError("windres fails on %s: %s" % (path, run.stderr.decode("latin-1").strip()))
    rc = run.stdout.decode("latin-1")
    blocks, lang, current = {}, 0, None
    for line in rc.splitlines():
        g = re.match(r"LANGUAGE (\d+), (\d+)", line)
        if g:
            lang = int(g.group(2)) << 10 | int(g.group(1))
            continue
        g = re.match(r'^(\S+) (MENU|MENUEX|DIALOG|DIALOGEX)\b', line)
        if g:
            kind = RT_MENU if g.group(2).startswith("MENU") else RT_DIALOG
            current = blocks.setdefault((kind, g.group(1).strip('"'), lang), [])
            continue
        if current is None:
            continue
        if line == "END":
            current = None
            continue
        words = line.split()
        for lit in LITERAL.finditer(line):
            item = None
            if words[0] == "MENUITEM":
                g = re.match(r'\s*MENUITEM L?".*",\s*(\d+)', line)
                item = int(g.group(1)) if g else 0
            current.append((unescape(lit.group(1)), item, words[0] if words else ""))
    return blocks


def compare_windres(path, m, errors):
    blocks = windres_blocks(path, m)
    for r in m.get("resources", []):
        if r["type_id"] not in (RT_MENU, RT_DIALOG):
            continue
        prefix = r["label"] + ", "
        texts = [t for t in m["texts"] if t["label"].startswith(prefix)]
        theirs = blocks.pop((r["type_id"], r["name"], r["lang"]), None)
        if theirs is None:
            errors.append("windres: %s missing" % r["label"])
            continue
        if r["type_id"] == RT_MENU:
            ours = collections.Counter()
            for t in texts:
                g = re.search(r", item 0x([0-9A-F]+), text$", t["label"])
                ours[(t["text"], int(g.group(1), 16) if g else None)] += 1
            theirs = collections.Counter((text, item) for text, item, _ in theirs)
            # A separator is an item with no text and id 0; windres names it SEPARATOR, without a literal.
            ours.pop(("", 0), None)
            theirs.pop(("", 0), None)
        else:
            structural = {t["text"] for t in texts if re.search(r", (class|menu)$", t["label"])}
            ours = collections.Counter(t["text"] for t in texts
                                       if t["text"] and not re.search(r", (class|menu)$", t["label"]))
            theirs = collections.Counter(text for text, _, _ in theirs if text and
                                         not (text in structural and text not in ours))
        if ours != theirs:
            errors.append("windres: %s differs: here %s, windres %s" %
                          (r["label"], sorted(ours - theirs)[:3], sorted(theirs - ours)[:3]))
    for key in blocks:
        errors.append("windres: resource %s not in the map" % (key,))


def main():
    args = sys.argv[1:]
    tool = args.pop(0)
    windres_all = "--windres-all" in args
    args = [a for a in args if a != "--windres-all"]
    sample = 1
    if "--sample" in args:
        i = args.index("--sample")
        sample = int(args[i + 1])
        del args[i:i + 2]
    images = (args or wine_images())[::sample]
    if not images:
        print("no images found")
        return 1
    agree = 0
    counts = collections.Counter()
    for path in images:
        errors = []
        m = dump(tool, path)
        try:
            pe = pefile.PE(path, fast_load=True)
            pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY[d] for d in (
                "IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_EXPORT", "IMAGE_DIRECTORY_ENTRY_RESOURCE")])
        except pefile.PEFormatError as e:
            if m["pe"]:
                errors.append("pefile refuses it (%s), the map reads it" % e)
            pe = None
        if pe is not None:
            if not m["pe"]:
                errors.append("the map refuses an image pefile reads")
            for fn in (compare_imports, compare_exports, compare_resources, compare_strings, compare_version):
                fn(pe, m, errors)
            compare_sections(pe, path, m, errors)
            counts["resources"] += len(m.get("resources", []))
            counts["texts"] += len(m.get("texts", []))
            counts["imports"] += sum(len(i["functions"]) for i in m.get("imports", []))
        if windres_all or os.path.basename(path) in WINDRES_IMAGES:
            counts["windres"] += 1
            compare_windres(path, m, errors)
        if errors:
            print("%s: %s" % (path, "; ".join(errors)))
        else:
            agree += 1
    print("%d images, %d agree with pefile%s (%d compared with windres); %d resources, %d resource texts, "
          "%d imported functions" % (len(images), agree, "" if not counts["windres"] else " and windres",
                                     counts["windres"], counts["resources"], counts["texts"], counts["imports"]))
    return 0 if agree == len(images) else 1


if __name__ == "__main__":
    sys.exit(main())
