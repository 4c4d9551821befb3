#!/usr/bin/python3
"""Translated dialog texts against what Wine draws under zh_CN.

fixtures/fit.rc, built into a resource DLL, is judged by fit_oracle: no
English text may be clipped and no control may lie outside its dialog. The
DLL is then translated with TRANSLATIONS (po extract, po apply) and judged
again: exactly the controls whose translation was made too long for them
must be clipped. The controls po check names as clipping their texts
must be the ones fit_oracle finds clipped, and after po apply --fit
nothing may be clipped, nothing outside its dialog, and no pair of controls
may overlap that did not overlap before.

    fit_wine_test.py --cli PIVRA_CLI --oracle FIT_ORACLE --wine-run WINE_RUN --image FIT_DLL
    fit_wine_test.py --metrics DIALOG_FONT_METRICS --inc DIALOG_FONT_METRICS_INC --wine-run WINE_RUN
    fit_wine_test.py --skip REASON

With --metrics: the rows dialog_font_metrics prints now must be the rows of
the committed file, so the core never measures with fonts Wine no longer
chooses (tools/make-dialog-font-metrics writes it anew).

Exit code 0 when all holds, 1 on a failure, 77 when a tool is missing."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
TIMEOUT = 120

# msgctxt: (translation, made too long for its control). A long one is at
# least a few characters wider than the room Wine gives it in the dialog's
# font (11 px an ideograph in MS Shell Dlg 8 and Segoe UI 8, 12 in SimSun 9,
# about 13 in bold Tahoma 10); a short one leaves room to spare. Three sit
# at the margins Wine's button drawing takes: control 1 of 201 fits beside
# its check box with 7 px to spare, control 3 would fit the client width but
# runs 8 px into the box's room, and control 12 runs 2 px into the push
# button's frame.
TRANSLATIONS = {
    "DIALOG 201 / caption": ("选项", False),
    "DIALOG 201 / control 0": ("显示", False),
    "DIALOG 201 / control 1": ("显示工具栏和快捷键(&T)", False),
    "DIALOG 201 / control 2": ("在主窗口底部显示状态栏(&B)", True),
    "DIALOG 201 / control 3": ("自动换行以适应窗口宽(&W)", True),
    "DIALOG 201 / control 4": ("桌面和列表中图标的显示大小与排列方式", True),
    "DIALOG 201 / control 5": ("小图标(&S)", False),
    "DIALOG 201 / control 6": ("以较大的尺寸显示所有图标(&L)", True),
    "DIALOG 201 / control 7": ("名称(&N):", False),
    "DIALOG 201 / control 9": ("所做的更改将在程序下一次启动时生效。如果程序正在运行，请先保存所有打开的文档，"
                               "然后关闭程序并重新启动它，这样新的设置才会在所有窗口中生效。", True),
    "DIALOG 201 / control 10": ("文件夹所在的位置:", True),
    "DIALOG 201 / control 11": ("C:\\文件", False),
    "DIALOG 201 / control 12": ("恢复 默认值", True),
    "DIALOG 201 / control 13": ("确定", False),
    "DIALOG 201 / control 14": ("取消", False),
    "DIALOG 201 / control 15": ("应用(&A)", False),
    "DIALOG 202 / caption": ("查找", False),
    "DIALOG 202 / control 0": ("查找内容(&N):", False),
    "DIALOG 202 / control 2": ("查找下一个(&N)", False),
    "DIALOG 202 / control 3": ("取消", False),
    "DIALOG 202 / control 4": ("严格区分英文字母的大小写(&C)", True),
    "DIALOG 202 / control 5": ("方向", False),
    "DIALOG 202 / control 6": ("向上(&U)", False),
    "DIALOG 202 / control 7": ("向下查找到文档末尾(&D)", True),
    "DIALOG 202 / control 8": ("已找到:", False),
    "DIALOG 202 / control 9": ("没有找到任何匹配的项目", True),
    "DIALOG 202 / control 10": ("搜索在文档末尾停止。", False),
    "DIALOG 203 / caption": ("警告", False),
    "DIALOG 203 / control 0": ("要删除这个文件吗？", False),
    "DIALOG 203 / control 1": ("是(&Y)", False),
    "DIALOG 203 / control 2": ("否(&N)", False),
    "DIALOG 203 / control 3": ("查看全部详细的错误信息", True),
    "DIALOG 203 / control 4": ("以后不再询问(&D)", False),
    "DIALOG 204 / caption": ("关于", False),
    "DIALOG 204 / control 0": ("示例程序", False),
    "DIALOG 204 / control 1": ("版本 1.0", False),
    "DIALOG 204 / control 2": ("向软件的供应商发送一份包含全部详细信息的错误报告以便改进(&S)", True),
    "DIALOG 204 / control 3": ("关闭", False),
}

LINE = re.compile(r"^(DIALOG .+? / control \d+)\t([^\t]+)\t([01])\t(-?\d+)\t(-?\d+)\t([-\d,]+)\t(.*)$")
OUTSIDE = re.compile(r"^OUTSIDE (DIALOG .+? / control \d+)$")
OVERLAP = re.compile(r"^OVERLAP (DIALOG .+?) / control (\d+) control (\d+)$")
TOTALS = re.compile(r"^dialogs (\d+), controls judged (\d+), skipped (\d+)$")
CLIP_HEADING = re.compile(r"^texts their controls clip\b.*\((\d+)\):$")
CLIP_ITEM = re.compile(r"^  (DIALOG .+? / control \d+) \"")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Oracle:
    """What fit_oracle printed for one image."""

    def __init__(self, text):
        self.controls = {}
        self.outside = set()
        self.overlaps = set()
        self.totals = None
        self.other = []
        for line in text.splitlines():
            m = LINE.match(line)
            if m:
                self.controls[m.group(1)] = (m.group(2), m.group(3) == "1", int(m.group(4)), int(m.group(5)),
                                             m.group(7))
            elif OUTSIDE.match(line):
                self.outside.add(OUTSIDE.match(line).group(1))
            elif OVERLAP.match(line):
                m = OVERLAP.match(line)
                self.overlaps.add((m.group(1), int(m.group(2)), int(m.group(3))))
            elif TOTALS.match(line):
                self.totals = tuple(int(g) for g in TOTALS.match(line).groups())
            elif line.strip() and not line.startswith("X connection"):
                self.other.append(line)

    def clipped(self):
        return {name for name, (_, clipped, _, _, _) in self.controls.items() if clipped}

    def summary(self):
        dialogs, judged, skipped = self.totals
        return (f"dialogs {dialogs}, judged {judged}, skipped {skipped}, clipped {len(self.clipped())}, "
                f"outside {len(self.outside)}, overlapping pairs {len(self.overlaps)}")


class Run:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.failures = 0

    def check(self, ok, message):
        if not ok:
            self.failures += 1
            print("FAIL: " + message)
        return ok

    def wine(self, program, arguments, console=True):
        command = [self.args.wine_run] + (["--console"] if console else []) + [program] + arguments
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
        return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")

    def cli(self, *arguments):
        return self.wine(self.args.cli, list(arguments))

    def oracle(self, image):
        # The dialogs are real windows, so the oracle needs the virtual display
        # wine-run gives a program run without --console.
        code, out, err = self.wine(self.args.oracle, [windows_path(image)], console=False)
        result = Oracle(out)
        self.check(code == 0 and result.totals is not None,
                   f"fit_oracle on {os.path.basename(image)} ended with {code}: {err.strip()}")
        self.check(not result.other, f"fit_oracle on {os.path.basename(image)} printed {result.other[:5]}")
        if result.totals is None:
            result.totals = (0, 0, 0)
        return result


def po_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def translate_template(template):
    """The template with TRANSLATIONS filled in, and the contexts it holds."""
    out, contexts, context = [], set(), None
    for line in template.splitlines():
        if line.startswith("msgctxt "):
            context = line[len("msgctxt "):].strip().strip('"')
            contexts.add(context)
        if line == 'msgstr ""' and context in TRANSLATIONS:
            line = "msgstr " + po_quote(TRANSLATIONS[context][0])
            context = None
        if line.startswith('"Language: '):
            line = '"Language: zh_CN\\n"'
        out.append(line)
    return "\n".join(out) + "\n", contexts


def po_check_clipped(text):
    """The controls po check names under its heading of clipped texts, and the count it gives."""
    names, count, inside = set(), None, False
    for line in text.splitlines():
        m = CLIP_HEADING.match(line)
        if m:
            count, inside = int(m.group(1)), True
            continue
        if inside:
            item = CLIP_ITEM.match(line)
            if item:
                names.add(item.group(1))
            elif not line.startswith("  "):
                inside = False
    return names, count


def metrics_current(args):
    done = subprocess.run([args.wine_run, args.metrics], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=TIMEOUT)
    measured = [line for line in done.stdout.decode("utf-8", "replace").splitlines() if line.startswith("{u\"")]
    with open(args.inc, encoding="utf-8") as f:
        committed = [line.rstrip("\n") for line in f if line.startswith("{u\"")]
    print(f"dialog_font_metrics: {len(measured)} rows measured, {len(committed)} committed")
    differ = [(a, b) for a, b in zip(measured, committed) if a != b]
    for now, then in differ[:5]:
        print("FAIL: measured  " + now[:160])
        print("      committed " + then[:160])
    ok = done.returncode == 0 and len(measured) == len(committed) > 0 and not differ
    print("passed" if ok else "FAILED: run tools/make-dialog-font-metrics when Wine or its fonts changed")
    return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli")
    parser.add_argument("--oracle")
    parser.add_argument("--wine-run")
    parser.add_argument("--image")
    parser.add_argument("--metrics")
    parser.add_argument("--inc")
    parser.add_argument("--skip")
    args = parser.parse_args()
    if args.skip:
        print("skipped: " + args.skip)
        return SKIPPED
    for tool in ("wine", "xvfb-run"):
        if not shutil.which(tool):
            print(f"skipped: {tool} is not installed")
            return SKIPPED
    if args.metrics:
        return metrics_current(args)

    with tempfile.TemporaryDirectory(prefix="pivra-fit-") as work:
        run = Run(args, work)
        image = os.path.join(work, "fit.dll")
        shutil.copyfile(args.image, image)

        original = run.oracle(image)
        print("original:   " + original.summary())
        run.check(original.totals[0] == 4 and original.totals[2] == 0,
                  f"fit_oracle created {original.totals[0] - original.totals[2]} of the 4 dialogs")
        run.check(not original.clipped(), f"English texts clipped: {sorted(original.clipped())}")
        run.check(not original.outside, f"controls outside their dialog: {sorted(original.outside)}")
        judged = set(original.controls)
        untranslated = {name for name in TRANSLATIONS if "/ control" in name} - judged
        run.check(not untranslated, f"translated controls fit_oracle did not judge: {sorted(untranslated)}")

        template = os.path.join(work, "fit.pot")
        code, _, err = run.cli("po", "extract", windows_path(image), "-o", windows_path(template))
        if not run.check(code == 0, f"po extract ended with {code}: {err.strip()}"):
            return 1
        with open(template, encoding="utf-8") as f:
            translated_po, contexts = translate_template(f.read())
        run.check(set(TRANSLATIONS) <= contexts, f"contexts not in the template: {sorted(set(TRANSLATIONS) - contexts)}")
        po = os.path.join(work, "zh_CN.po")
        with open(po, "w", encoding="utf-8") as f:
            f.write(translated_po)

        translated = os.path.join(work, "fit.zh.dll")
        code, _, err = run.cli("po", "apply", windows_path(image), windows_path(po), "-o", windows_path(translated))
        if not run.check(code == 0, f"po apply ended with {code}: {err.strip()}"):
            return 1
        after = run.oracle(translated)
        print("translated: " + after.summary())
        for name, (_, clipped, needed, room, text) in sorted(after.controls.items()):
            if name in TRANSLATIONS:
                run.check(text == TRANSLATIONS[name][0].replace("\n", " "), f"{name} shows {text!r}")
                run.check(clipped == TRANSLATIONS[name][1],
                          f"{name} {'clipped' if clipped else 'not clipped'} (needs {needed} px, has {room}): {text}")
        made_long = {name for name, (_, long) in TRANSLATIONS.items() if long}
        run.check(len(after.clipped()) >= len(made_long) > 0,
                  f"{len(after.clipped())} clipped, {len(made_long)} translations made too long")

        code, out, err = run.cli("po", "check", windows_path(image), windows_path(po))
        named, count = po_check_clipped(out)
        run.check(count is not None, "po check printed no heading of clipped texts")
        missed, wrong = after.clipped() - named, named - after.clipped()
        print(f"po check: named {len(named)} (heading {count}), clipped and not named {len(missed)}, "
              f"named and not clipped {len(wrong)}")
        run.check(not missed, f"clipped controls po check did not name: {sorted(missed)}")
        run.check(not wrong, f"controls po check named that are not clipped: {sorted(wrong)}")

        fitted = os.path.join(work, "fit.fit.dll")
        code, _, err = run.cli("po", "apply", "--fit", windows_path(image), windows_path(po), "-o",
                               windows_path(fitted))
        if run.check(code == 0, f"po apply --fit ended with {code}: {err.strip()}"):
            result = run.oracle(fitted)
            new_overlaps = result.overlaps - original.overlaps
            print(f"fitted:     {result.summary()}, new overlapping pairs {len(new_overlaps)}")
            run.check(not result.clipped(), f"clipped after --fit: {sorted(result.clipped())}")
            run.check(not result.outside, f"outside their dialog after --fit: {sorted(result.outside)}")
            run.check(not new_overlaps, f"pairs overlapping after --fit only: {sorted(new_overlaps)}")

        print("FAILED" if run.failures else "passed")
        return 1 if run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
