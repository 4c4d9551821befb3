#!/usr/bin/python3
"""apply --relocate end to end on the programs built from programs/texts.c.

For each program: check --relocate --json and apply --relocate --json on a
copy, each rule's outcome and reason against what the program does with the
text; the patched file judged by pefile (one more section, SizeOfImage, the
new texts and their headers, every other byte as it was but the header fields
a new section changes and the reference slots the report names, each moved by
the distance the text moved); the patched program run under Wine, its output
against the translations; then apply --relocate again on the patched file,
which must find nothing to move and leave every byte as it was (the program
then runs again only when it did not, to show what changed).

    relocate_wine_test.py --cli PIVRA_CLI --wine-run WINE_RUN PROGRAM.exe...
    relocate_wine_test.py --skip REASON

Exit code 0 when every program passes, 1 on a failure, 77 when a tool the
test needs is missing."""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIPPED = 77

try:
    import pefile
except ImportError:
    pefile = None

# One rule per text of texts.c: the label it prints under, EN, CN, whether
# the texts are UTF-16, REPEAT. Every CN is longer than its EN in its encoding.
RULES = [
    ("call", "Text passed to a function", "传给函数的文本，翻译得更长一些", False, False),
    ("table", "First entry of the table", "表格的第一项，翻译得更长一些啊", False, False),
    ("table", "Third entry of the table", "表格的第三项，翻译得更长一些啊", False, False),
    ("twice", "Literal used twice", "用了两次的字面量文本，更长", False, False),
    ("whole", "Leading Trailing words", "前导部分与尾随部分，翻译得更长一些", False, False),
    ("tail", "Trailing words", "尾随部分，更长一些", False, False),
    ("past", "Pointer past its start", "指向开头之后的指针，翻译得更长一些", False, False),
    ("acp", "Shown through the code page", "经由代码页显示的文本，翻译得更长一些", False, False),
    ("wide", "Wide text for the console", "控制台上显示的宽字符文本，这一句翻译得比原文更长一些啊", True, False),
    ("delphi", "Delphi style literal one", "德尔斐风格的字面量之一，翻译得更长", False, False),
    ("delphi_longer", "Delphi literal", "德尔斐字面量，更长一些", False, False),
    ("delphi_wide", "Wide Delphi literal!", "宽字符的德尔斐字面量，这一句翻译得比原文更长一些啊！", True, False),
    ("packed", "Held at an unaligned place", "存放在未对齐位置的文本，翻译得更长一些", False, False),
    ("stored", "Stored by an instruction", "由一条指令存放的文本，翻译得更长", False, False),
    ("buffer", "Writable buffer text", "可写缓冲区的文本，更长", False, False),
    ("large", "Large writable buffer", "一个大的可写缓冲区，更长", False, False),
    ("repeated", "Repeated in two files", "在两个文件中重复的文本，更长一些", False, True),
]

# What the program prints, in order: (label, text as built, how): "ansi" as
# bytes, "units" as the hex of UTF-16LE units, "acp" as the hex of the units
# the code page makes of it. The second table entry and "past_tail" have no
# rule of their own.
OUTPUT = [
    ("call", "Text passed to a function", "ansi"),
    ("table", "First entry of the table", "ansi"),
    ("table", "Second entry of the table", "ansi"),
    ("table", "Third entry of the table", "ansi"),
    ("twice", "Literal used twice", "ansi"),
    ("whole", "Leading Trailing words", "ansi"),
    ("tail", "Trailing words", "ansi"),
    ("past", "Pointer past its start", "ansi"),
    ("past_tail", "past its start", "ansi"),
    ("acp", "Shown through the code page", "acp"),
    ("wide", "Wide text for the console", "units"),
    ("delphi", "Delphi style literal one", "ansi"),
    ("delphi_longer", "Delphi literal, longer than EN", "ansi"),
    ("delphi_wide", "Wide Delphi literal!", "units"),
    ("packed", "Held at an unaligned place", "ansi"),
    ("stored", "Stored by an instruction", "ansi"),
    ("buffer", "Writable buffer text grown", "ansi"),
    ("large", "Large writable buffer +900", "ansi"),
    ("repeated", "Repeated in two files", "ansi"),
    ("repeated", "Repeated in two files", "ansi"),
    ("twice", "Literal used twice", "ansi"),
]

NO_ROOM = "cannot take a new section"
MIDDLE = "a reference points into the middle of EN"
LITERAL = "begins a length-prefixed string of 30 bytes"
UNEXPLAINED = "where no instruction or aligned pointer holds it"
NO_REFERENCE = "no reference to EN at"
AGAIN = "an earlier run may have relocated it already"
BY_SCANNING = "by scanning code and data"
SCANNED = "the image has no base relocations: the references were found by scanning code and data"

SECTION_HEADER = 40


def encode(text, unicode):
    return text.encode("utf-16le") if unicode else text.encode("gbk")


def write_rule_set(path):
    lines = []
    for i, (_, en, cn, unicode, repeat) in enumerate(RULES):
        lines += ["[%03d]" % (i + 1), "EN=" + en, "CN=" + cn, "UNICODE=%d" % unicode, "REPEAT=%d" % repeat]
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16le"))


def align(n, to):
    return (n + to - 1) // to * to


class Failures:
    def __init__(self, name):
        self.name = name
        self.messages = []

    def check(self, ok, message):
        if not ok:
            self.messages.append(message)
        return ok


def header_room(pe):
    """Whether a 40-byte section header fits behind the table, in the headers
    and in front of every section's raw data."""
    table_end = pe.sections[-1].get_file_offset() + SECTION_HEADER
    first_raw = min([s.PointerToRawData for s in pe.sections if s.SizeOfRawData] or [table_end + SECTION_HEADER])
    return table_end + SECTION_HEADER <= min(pe.OPTIONAL_HEADER.SizeOfHeaders, first_raw)


def expected_reasons(relocatable, room):
    """Per rule: None for relocated, else a phrase of the reason."""
    reasons = []
    for label, *_ in RULES:
        if label == "past":
            reasons.append(MIDDLE)
        elif label == "delphi_longer":
            reasons.append(LITERAL)
        elif label == "packed" and not relocatable:
            reasons.append(UNEXPLAINED)
        else:
            reasons.append(None if room else NO_ROOM)
    return reasons


def reference_kinds(bits, relocatable):
    """The kinds a reference may have, and those the function argument and
    the table entries must have."""
    pointer = "base relocation" if relocatable else "data scan"
    if bits == 64:
        return {"RIP-relative", pointer}, "RIP-relative", pointer
    code = "base relocation" if relocatable else "code scan"
    return {code, pointer}, code, pointer


def run(args, cwd):
    """Output through files, not pipes: the wineserver a first Wine program
    starts inherits them and would hold a pipe open for seconds after."""
    with tempfile.TemporaryFile(dir=cwd) as out, tempfile.TemporaryFile(dir=cwd) as err:
        code = subprocess.run(args, cwd=cwd, stdout=out, stderr=err, timeout=120).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, code, out.read(), err.read())


def rule_outcomes(doc):
    """{rule number: (relocated, relocation or reason)} from apply --json."""
    target = doc["targets"][0]
    outcomes = {r["number"]: (True, r["relocation"]) for r in target["relocated"]}
    outcomes.update({r["number"]: (False, r["reason"]) for r in target["failed"]})
    return outcomes


def check_outcomes(f, what, outcomes, reasons):
    for i, reason in enumerate(reasons):
        number = i + 1
        got = outcomes.get(number)
        if not f.check(got is not None, "%s: rule %d (%s) neither relocated nor failed" % (what, number, RULES[i][1])):
            continue
        if reason is None:
            f.check(got[0], "%s: rule %d (%s) not relocated: %s" % (what, number, RULES[i][1], got[1]))
        else:
            shown = json.dumps(got[1], ensure_ascii=False)[:300]
            f.check(not got[0] and reason in got[1],
                    "%s: rule %d (%s): expected a refusal with '%s', got %s" % (what, number, RULES[i][1], reason, shown))


def references(relocation):
    return sorted((t["rva"], r["offset"], r["kind"]) for t in relocation["texts"] for r in t["references"])


def check_check_json(f, doc, outcomes, bits, relocatable):
    """check --relocate --json plans what apply did, and names the kinds."""
    allowed, code_kind, pointer_kind = reference_kinds(bits, relocatable)
    planned = {r["number"]: r.get("relocation") for r in doc["rules"]}
    for number, (relocated, relocation) in outcomes.items():
        plan = planned.get(number)
        if not f.check(plan is not None and plan["relocated"] == relocated,
                       "check: rule %d planned %s, apply %s" % (number, plan, relocated)):
            continue
        if not relocated:
            f.check("cannot be relocated: " + plan["reason"] == relocation,
                    "check: rule %d reason '%s', apply '%s'" % (number, plan["reason"], relocation))
            continue
        f.check(references(plan) == references(relocation), "check: rule %d references differ from apply's" % number)
        f.check(plan["scanned"] == (not relocatable), "check: rule %d scanned=%s" % (number, plan["scanned"]))
        kinds = {r[2] for r in references(plan)}
        f.check(kinds <= allowed, "check: rule %d kinds %s, expected among %s" % (number, kinds, allowed))
        label = RULES[number - 1][0]
        if label == "call":
            f.check(kinds == {code_kind}, "check: the function argument's kinds %s, expected %s" % (kinds, code_kind))
        if label == "table":
            f.check(kinds == {pointer_kind}, "check: a table entry's kinds %s, expected %s" % (kinds, pointer_kind))


def check_image(f, original, patched, outcomes):
    """The patched file against the original, with pefile reading both."""
    before = pefile.PE(data=original, fast_load=True)
    after = pefile.PE(data=patched, fast_load=True)
    n = len(before.sections)
    if not f.check(len(after.sections) == n + 1, "pefile: %d sections, expected %d" % (len(after.sections), n + 1)):
        return
    new = after.sections[-1]
    opt = after.OPTIONAL_HEADER
    f.check(new.Name.rstrip(b"\0") == b".pivra", "pefile: the new section is named %r" % new.Name)
    last = before.sections[-1]
    last_end = last.VirtualAddress + max(last.Misc_VirtualSize, last.SizeOfRawData)
    f.check(new.VirtualAddress == align(last_end, opt.SectionAlignment),
            "pefile: the new section's address %#x" % new.VirtualAddress)
    f.check(opt.SizeOfImage == new.VirtualAddress + align(new.Misc_VirtualSize, opt.SectionAlignment),
            "pefile: SizeOfImage %#x" % opt.SizeOfImage)
    if before.OPTIONAL_HEADER.CheckSum:
        f.check(opt.CheckSum == after.generate_checksum(), "pefile: CheckSum %#x, pefile computes %#x"
                % (opt.CheckSum, after.generate_checksum()))
    f.check(new.PointerToRawData == align(len(original), opt.FileAlignment) and
            len(patched) == new.PointerToRawData + new.SizeOfRawData,
            "pefile: the new section's raw data at %#x, file %d bytes" % (new.PointerToRawData, len(patched)))
    f.check(set(patched[len(original):new.PointerToRawData]) <= {0},
            "pefile: nonzero bytes in front of the new section")
    data = patched[new.PointerToRawData:new.PointerToRawData + new.Misc_VirtualSize]

    allowed = set()
    for offset, size in ((before.FILE_HEADER.get_file_offset() + 2, 2),
                         (before.OPTIONAL_HEADER.get_field_absolute_offset("SizeOfImage"), 4),
                         (before.OPTIONAL_HEADER.get_field_absolute_offset("SizeOfInitializedData"), 4),
                         (before.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"), 4),
                         (last.get_file_offset() + SECTION_HEADER, SECTION_HEADER)):
        allowed.update(range(offset, offset + size))
    writable = False
    pe64 = before.FILE_HEADER.Machine == 0x8664
    for number, (relocated, relocation) in outcomes.items():
        if not relocated:
            continue
        _, en, cn, unicode, _ = RULES[number - 1]
        at = relocation["offset"] - new.PointerToRawData
        text = encode(cn, unicode) + (b"\0\0" if unicode else b"\0")
        f.check(relocation["rva"] == new.VirtualAddress + at and data[at:at + len(text)] == text,
                "pefile: rule %d: the new text is not at %#x" % (number, relocation["rva"]))
        units = len(cn) if unicode else len(encode(cn, False))
        if RULES[number - 1][0] == "delphi":
            f.check(relocation["lengthHeader"] and data[at - 8:at] == struct.pack("<iI", -1, units),
                    "pefile: rule %d: header %s" % (number, data[at - 8:at].hex()))
        elif RULES[number - 1][0] == "delphi_wide":
            f.check(relocation["lengthHeader"] and data[at - 12:at] == struct.pack("<HHiI", 1200, 2, -1, units),
                    "pefile: rule %d: header %s" % (number, data[at - 12:at].hex()))
        else:
            f.check(not relocation["lengthHeader"], "pefile: rule %d has a length header" % number)
        for text_at in relocation["texts"]:
            writable = writable or before.get_section_by_rva(text_at["rva"]).Characteristics & 0x80000000 != 0
            for ref in text_at["references"]:
                size = 8 if pe64 and ref["kind"] in ("base relocation", "data scan") else 4
                off = ref["offset"]
                old = int.from_bytes(original[off:off + size], "little")
                value = int.from_bytes(patched[off:off + size], "little")
                f.check((value - old) % (1 << 8 * size) == (relocation["rva"] - text_at["rva"]) % (1 << 8 * size),
                        "pefile: rule %d: the reference at %s holds %#x, was %#x" % (number, ref["place"], value, old))
                allowed.update(range(off, off + size))
    f.check((new.Characteristics & 0x80000000 != 0) == writable, "pefile: the new section's characteristics %#x"
            % new.Characteristics)
    changed = [i for i in range(len(original)) if original[i] != patched[i] and i not in allowed]
    f.check(not changed, "pefile: %d bytes changed outside the header fields and the references, first at %#x"
            % (len(changed), changed[0] if changed else 0))


def expected_output(outcomes):
    """What the patched program prints: each relocated translation, every
    other text as it was."""
    cn_of = {}
    for number, (relocated, _) in outcomes.items():
        if relocated:
            cn_of[RULES[number - 1][1]] = RULES[number - 1][2]
    lines = []
    for label, text, how in OUTPUT:
        if text in cn_of:
            shown = cn_of[text]
        elif text.endswith(" grown") and text[:-6] in cn_of:
            shown = cn_of[text[:-6]] + " grown"
        elif text.endswith(" +900") and text[:-5] in cn_of:
            shown = cn_of[text[:-5]] + " +900"
        else:
            shown = text
        lines.append(label + "=" + (shown if how == "ansi" else shown.encode("utf-16le").hex()))
    return lines


def program_output(f, what, wine_run, exe):
    result = run([wine_run, "--console", exe], os.path.dirname(exe))
    f.check(result.returncode == 0, "%s: exit code %d, %s" % (what, result.returncode, result.stderr[-300:]))
    try:
        return result.stdout.replace(b"\r\n", b"\n").decode("gbk").splitlines()
    except UnicodeDecodeError as e:
        f.check(False, "%s: output is no GBK: %s" % (what, e))
        return []


def compare_output(f, what, got, expected):
    if got != expected:
        diff = ["  line %d: %r, expected %r" % (i + 1, g, e) for i, (g, e) in enumerate(zip(got, expected)) if g != e]
        f.check(False, "%s: %d lines, %d expected\n%s" % (what, len(got), len(expected), "\n".join(diff)))


def test_program(program, cli, wine_run, work):
    name = os.path.basename(program)
    f = Failures(name)
    bits = 64 if "texts64" in name else 32
    relocatable = "-noreloc" not in name
    with open(program, "rb") as fp:
        original = fp.read()
    pe = pefile.PE(data=original, fast_load=True)
    has_reloc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size != 0
    if not f.check(has_reloc == relocatable, "the program %s base relocations" % ("has no" if relocatable else "has")):
        return f
    reasons = expected_reasons(relocatable, header_room(pe))
    rules = os.path.join(work, "rules.ini")
    write_rule_set(rules)
    target = os.path.join(work, "target.exe")
    shutil.copyfile(program, target)

    checked = run([cli, "check", rules, target, "--relocate", "--json"], work)
    f.check(checked.returncode == 1, "check: exit code %d, expected 1" % checked.returncode)
    # In words, the report says where the references came from.
    told = run([cli, "check", rules, target, "--relocate"], work).stdout.decode("utf-8", errors="replace")
    f.check((SCANNED in told) == (not relocatable and None in reasons),
            "check: the report %s '%s'" % ("lacks" if SCANNED not in told else "has", SCANNED))
    applied = run([cli, "apply", rules, target, "--relocate", "--json", "--log", os.path.join(work, "log.txt")], work)
    f.check(applied.returncode == 1, "apply: exit code %d, expected 1 (refused rules)\n%s" %
            (applied.returncode, applied.stderr.decode(errors="replace")[-300:]))
    try:
        check_doc = json.loads(checked.stdout)
        outcomes = rule_outcomes(json.loads(applied.stdout))
    except (ValueError, KeyError, IndexError) as e:
        f.check(False, "check or apply printed no JSON of a run: %s" % e)
        return f
    check_outcomes(f, "apply", outcomes, reasons)
    check_check_json(f, check_doc, outcomes, bits, relocatable)
    with open(target, "rb") as fp:
        patched = fp.read()
    if any(relocated for relocated, _ in outcomes.values()):
        check_image(f, original, patched, outcomes)
    else:
        f.check(patched == original, "apply: nothing was relocated, yet the file changed")
    expected = expected_output(outcomes)
    compare_output(f, "patched program", program_output(f, "patched program", wine_run, target), expected)

    # A second run finds the old texts unreferenced and must leave the file whole.
    again = run([cli, "apply", rules, target, "--relocate", "--log", os.path.join(work, "log2.txt")], work)
    f.check(again.returncode == 1, "second apply: exit code %d, expected 1" % again.returncode)
    text = again.stdout.decode("utf-8", errors="replace")
    for number, (relocated, relocation) in outcomes.items():
        line = next((l for l in text.splitlines() if l.startswith("  failed %03d " % number)), "")
        if relocated:
            f.check(NO_REFERENCE in line and AGAIN in line and (BY_SCANNING in line) == (not relocatable),
                    "second apply: rule %d: %s" % (number, line or "not failed"))
        else:
            f.check(relocation in line,
                    "second apply: rule %d: '%s', the first run said '%s'" % (number, line, relocation))
    # The same bytes run as they ran; a changed file is run to show what it broke.
    with open(target, "rb") as fp:
        if not f.check(fp.read() == patched, "second apply changed the file"):
            compare_output(f, "program after the second apply", program_output(f, "second run", wine_run, target),
                           expected)
    return f


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli")
    parser.add_argument("--wine-run")
    parser.add_argument("--skip")
    parser.add_argument("programs", nargs="*")
    args = parser.parse_args()
    missing = args.skip or ("python3-pefile is not installed" if pefile is None else None)
    missing = missing or ("wine is not installed" if shutil.which("wine") is None else None)
    if missing:
        print("skipped: " + missing)
        return SKIPPED
    if not any(line.strip().lower() in ("zh_cn.utf8", "zh_cn.utf-8")
               for line in subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.splitlines()):
        print("skipped: the zh_CN.UTF-8 locale is not generated, so Wine would not use code page 936")
        return SKIPPED
    has_wine64 = shutil.which("wine64") is not None or os.access("/usr/lib/wine/wine64", os.X_OK)
    cli, wine_run = os.path.abspath(args.cli), os.path.abspath(args.wine_run)
    failed = ran = 0
    for program in map(os.path.abspath, args.programs):
        if "texts64" in os.path.basename(program) and not has_wine64:
            print("skipped %s: wine64 is not installed" % os.path.basename(program))
            continue
        ran += 1
        with tempfile.TemporaryDirectory(prefix="pivra-relocate-") as work:
            f = test_program(program, cli, wine_run, work)
        print("%s %s" % ("FAIL" if f.messages else "ok  ", f.name))
        for message in f.messages:
            print("  " + message.replace("\n", "\n  "))
        failed += 1 if f.messages else 0
    print("%d of %d programs pass" % (ran - failed, ran))
    if args.programs and not ran:
        return SKIPPED
    return 1 if failed or not ran else 0


if __name__ == "__main__":
    sys.exit(main())
