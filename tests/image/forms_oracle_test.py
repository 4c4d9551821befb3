#!/usr/bin/python3
"""Judges pivra-cli's reading and rewriting of Delphi / Lazarus forms by Free
Pascal's own streaming code (ObjectTextToBinary / ObjectBinaryToText, built as
form_oracle from form_oracle.pas).

    forms_oracle_test.py PIVRA_CLI FORM_ORACLE

The forms of FORMS are written as text, turned into binary by the oracle and
linked as RCDATA into 32- and 64-bit programs built with mingw. pivra-cli must
list exactly the texts of the table; translated longer (Chinese, ASCII past
255 bytes) and shorter, every form taken back out of the program must turn into
the same text as the source with only those strings replaced. An empty round
trip keeps every form byte for byte, every cut of a form is refused, value
type 21 is read as the program's compiler means it, the map labels each text
where the oracle places it, and forms a byte away from the table's list the
texts the oracle reads in them.

Exit 0 when all holds, 1 with one line per fault, 77 when a tool is missing.
With PIVRA_KEEP=1 the programs and PO files stay in /tmp/pivra-forms-*."""
import os
import json
import re
import resource
import shutil
import struct
import subprocess
import sys
import tempfile

try:
    import pefile
except ImportError:
    pefile = None

RT_RCDATA = 10

# A text is written in a form as {key}; TEXTS gives its source and where
# pivra-cli names it. Everything else in a form is a non-text that must stay.
TEXTS = {
    "caption": ("Caption", "Order entry"),
    "formhint": ("Hint", "Enter orders and print them"),
    "panel": ("Panel1.Caption", "Orders"),
    "open": ("OpenButton.Caption", "&Open..."),
    "openhint": ("OpenButton.Hint", "Open an order file"),
    "modes": ("Modes.Caption", "&Mode"),
    "mode0": ("Modes.Items[0]", "&Retail"),
    "mode1": ("Modes.Items[1]", "&Wholesale"),
    "mode2": ("Modes.Items[2]", "Don't \"quote\" C:\\path"),
    "line0": ("Notes.Lines[0]", "First line of the notes"),
    "line1": ("Notes.Lines[1]", "A long memo line. " * 16),
    "line2": ("Notes.Lines[2]", "\u786e\u5b9a and more"),
    "tab0": ("Tabs.Tabs[0]", "&General"),
    "tab1": ("Tabs.Tabs[1]", "&Advanced"),
    "editlabel": ("NameEdit.EditLabel.Caption", "Customer &name:"),
    "edittext": ("NameEdit.Text", "Nobody yet"),
    "texthint": ("NameEdit.TextHint", "Type a name"),
    "sbpanel0": ("StatusBar.Panels[0].Text", "Ready"),
    "sbpanel1": ("StatusBar.Panels[1].Text", "No orders"),
    "filter": ("OpenDialog.Filter", "Order files (*.ord)|*.ord|All files (*.*)|*.*"),
    "dtitle": ("OpenDialog.Title", "Open order"),
    "col0": ("Files.Columns[0].Caption", "Name"),
    "col1": ("Files.Columns[1].Caption", "Size in bytes"),
    "cancel": ("Cancel.Caption", "&Cancel"),
    "frameok": ("Frame1.OkButton.Caption", "O&K"),
    "framehint": ("Frame1.Hint", "A frame of its own"),
    "framelabel": ("Frame1.FrameLabel.Caption", "Framed &label"),
    # The menu form.
    "mcaption": ("Caption", "Menus"),
    "file": ("FileMenu.Caption", "&File"),
    "fileopen": ("FileOpen.Caption", "&Open..."),
    "fileopenhint": ("FileOpen.Hint", "Open a file"),
    "fileexit": ("FileExit.Caption", "E&xit"),
    "help": ("HelpMenu.Caption", "&Help"),
    "helpabout": ("HelpAbout.Caption", "&About this program"),
    "popupcopy": ("PopupCopy.Caption", "&Copy"),
    # The inherited form, whose label draws with ANSI_CHARSET.
    "dcaption": ("Caption", "Derived form"),
    "dok": ("OkButton.Caption", "&OK"),
    "dlabel": ("AnsiLabel.Caption", "Drawn with ANSI_CHARSET"),
    "dlabelhint": ("AnsiLabel.Hint", "Its hint as well"),
    "dextra": ("Extra.Caption", "Extra &label"),
    "dpanel": ("AnsiPanel.Caption", "Panel of charset 0"),
    "dinner": ("InnerLabel.Caption", "Inherits the panel's font"),
    "downfont": ("OwnFont.Caption", "Has a font of its own"),
    "innerok": ("Frame1.Inner.InnerOk.Caption", "&Yes"),
    "simple": ("StatusBar.SimpleText", "Not listed"),
    "twolines": ("Spin.Hint", "Two\r\nlines"),
}
# Texts of objects whose Font.Charset is ANSI_CHARSET: po check warns when
# their translation needs more than that.
ANSI_TEXTS = {
    "dlabel": "Font.Charset of AnsiLabel is ANSI_CHARSET",
    "dlabelhint": "Font.Charset of AnsiLabel is ANSI_CHARSET",
    "dpanel": "Font.Charset of AnsiPanel is ANSI_CHARSET (0)",
    "dinner": "Font.Charset of AnsiPanel is ANSI_CHARSET (0)",
}
# A text only with --form-property.
EXTRA_PROPERTY = ("SimpleText", "simple")

MAIN_FORM = """object MainForm: TMainForm
  Left = 200
  Top = -12
  Width = 1000
  Tag = 100000
  HelpContext = -40000
  Stamp = 12345678901234
  Ratio = 1.25
  Offset = -3.75
  Caption = {caption}
  Font.Name = 'Segoe UI'
  Font.Charset = DEFAULT_CHARSET
  Font.Style = [fsBold, fsItalic]
  BorderIcons = []
  Color = clBtnFace
  KeyPreview = True
  Visible = False
  PopupMenu = nil
  Icon.Data = {{
    0000010001001010000001002000680400001600000028000000100000002000
    00000100200000000000000000000000000000000000000000000000000000FF
  }}
  Hint = {formhint}
  ShowHint = True
  HelpKeyword = 'Caption'
  Nested = ((1 2) ('Hint' Caption) [a] True)
  object Panel1: TPanel
    Align = alTop
    Caption = {panel}
    object OpenButton: TButton
      Caption = {open}
      Hint = {openhint}
      Default = True
      Action = OpenAction
    end
    object Modes: TRadioGroup
      Caption = {modes}
      Items.Strings = (
        {mode0}
        {mode1}
        {mode2})
    end
  end
  object Notes: TMemo
    Lines.Strings = (
      {line0}
      {line1}
      {line2})
    ScrollBars = ssVertical
  end
  object Query: TQuery
    SQL.Strings = (
      'select Caption, Hint from orders')
    DatabaseName = 'Orders'
  end
  object Tabs: TTabControl
    Tabs.Strings = (
      {tab0}
      {tab1})
    TabIndex = 0
  end
  object NameEdit: TLabeledEdit
    EditLabel.Width = 40
    EditLabel.Caption = {editlabel}
    Text = {edittext}
    TextHint = {texthint}
    DataField = 'CUSTOMER_NAME'
    DataSource = OrdersSource
  end
  object StatusBar: TStatusBar
    Panels = <
      item
        Text = {sbpanel0}
        Width = 120
      end
      item
        Bevel = pbNone
        Text = {sbpanel1}
        Style = psText
      end>
    SimpleText = {simple}
  end
  object OpenDialog: TOpenDialog
    FileName = 'C:\\Data\\default.ord'
    Filter = {filter}
    Title = {dtitle}
    DefaultExt = 'ord'
  end
  object Files: TListView
    Columns = <
      item
        Caption = {col0}
        Width = 200
      end
      item
        Alignment = taRightJustify
        Caption = {col1}
      end>
    Groups = <>
    Items.Data = {{0102030405}}
  end
  object Spin: TSpinEdit
    Caption = SpinCaption
    Text = 12
    TextHint = ''
    Hint = {twolines}
    Title = (1 2)
  end
  inherited Cancel: TButton
    Caption = {cancel}
    ModalResult = 2
  end
  inline Frame1: TFrame1 [2]
    Hint = {framehint}
    TabOrder = 3
    inherited OkButton: TButton
      Caption = {frameok}
    end
    object FrameLabel: TLabel
      Caption = {framelabel}
      FocusControl = OkButton
    end
    inline Inner: TInnerFrame
      object InnerOk: TButton
        Caption = {innerok}
      end
    end
  end
end
"""

MENU_FORM = """object MenuForm: TMenuForm
  Caption = {mcaption}
  Menu = MainMenu1
  object MainMenu1: TMainMenu
    Left = 8
    object FileMenu: TMenuItem
      Caption = {file}
      object FileOpen: TMenuItem
        Caption = {fileopen}
        Hint = {fileopenhint}
        ShortCut = 16463
      end
      object FileExit: TMenuItem
        Caption = {fileexit}
        ShortCut = 32883
      end
    end
    object HelpMenu: TMenuItem
      Caption = {help}
      object HelpAbout: TMenuItem
        Caption = {helpabout}
      end
    end
  end
  object Popup: TPopupMenu
    object PopupCopy: TMenuItem
      Caption = {popupcopy}
    end
  end
end
"""

DERIVED_FORM = """inherited DerivedForm: TDerivedForm
  Caption = {dcaption}
  inherited OkButton: TButton
    Caption = {dok}
  end
  object AnsiLabel: TLabel
    Font.Charset = ANSI_CHARSET
    Font.Name = 'Arial'
    Caption = {dlabel}
    Hint = {dlabelhint}
  end
  object Extra: TLabel [1]
    Caption = {dextra}
  end
  object AnsiPanel: TPanel
    Caption = {dpanel}
    Font.Charset = 0
    object InnerLabel: TLabel
      Caption = {dinner}
    end
    object OwnFont: TLabel
      Caption = {downfont}
      ParentFont = False
    end
  end
end
"""

FORMS = {"TMAINFORM": MAIN_FORM, "TMENUFORM": MENU_FORM, "TDERIVEDFORM": DERIVED_FORM}


def form_keys(template):
    return re.findall(r"(?<!\{)\{([a-z0-9]+)\}", template)


def pascal(s):
    """s as a Pascal string expression the oracle's parser takes."""
    units = s.encode("utf-16-le")
    units = [struct.unpack_from("<H", units, i)[0] for i in range(0, len(units), 2)]
    parts, piece, quoted = [], "", False
    for i, u in enumerate(units):
        if i and i % 60 == 0:
            piece += "'" if quoted else ""
            parts.append(piece)
            piece, quoted = "", False
        if 32 <= u < 127:
            if not quoted:
                piece += "'"
                quoted = True
            piece += "''" if u == 39 else chr(u)
        else:
            if quoted:
                piece += "'"
                quoted = False
            piece += "#%d" % u
    parts.append(piece + ("'" if quoted else ""))
    return " + ".join(p for p in parts if p) or "''"


def render(template, values):
    return template.format(**{k: pascal(values[k]) for k in form_keys(template)})


class Failures:
    def __init__(self):
        self.lines = []

    def __call__(self, line):
        self.lines.append(line)


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


class Oracle:
    def __init__(self, tool, work):
        self.tool, self.work, self.n = tool, work, 0

    def _path(self, ext):
        self.n += 1
        return os.path.join(self.work, "oracle%d.%s" % (self.n, ext))

    def tobinary(self, text):
        src, out = self._path("txt"), self._path("bin")
        with open(src, "w", encoding="ascii") as f:
            f.write(text)
        r = run([self.tool, "tobinary", src, out])
        if r.returncode != 0:
            raise RuntimeError("the oracle cannot read the text form:\n%s%s" % (r.stderr.decode(), text))
        with open(out, "rb") as f:
            return f.read()

    def totext(self, data):
        """The text of binary data, or None with the oracle's message."""
        src, out = self._path("bin"), self._path("txt")
        with open(src, "wb") as f:
            f.write(data)
        try:
            # A damaged count can have the oracle ask for gigabytes, or read
            # for ever: it fails fast in 256 MB.
            r = run([self.tool, "totext", src, out], timeout=10, preexec_fn=lambda: resource.setrlimit(
                resource.RLIMIT_AS, (256 << 20, 256 << 20)))
        except subprocess.TimeoutExpired:
            return None, "the oracle did not finish"
        if r.returncode != 0:
            return None, r.stderr.decode().strip()
        with open(out, "rb") as f:
            return f.read().decode("latin-1"), ""


# Forms written byte by byte, for what the text form cannot say: value type
# 21, single, currency and date, collection items with an order.
def sstr(s):
    b = s.encode("latin-1")
    return bytes([len(b)]) + b


def vstring(s, code_page=None, source=None):
    """s as pivra-cli writes a translation: ASCII as vaString (vaLString past
    255 bytes), anything else as vaWString; the source (s == source) as a
    vaString in code_page."""
    if s == source:
        b = s.encode(code_page)
        return b"\x06" + bytes([len(b)]) + b
    if all(ord(c) < 128 for c in s):
        b = s.encode("ascii")
        return (b"\x06" + bytes([len(b)]) if len(b) < 256 else b"\x0c" + struct.pack("<I", len(b))) + b
    return vwide(18, s)


def vwide(vtype, s):
    u = s.encode("utf-16-le")
    return bytes([vtype]) + struct.pack("<I", len(u) // 2) + u


def fpc_unicode_form(values, string):
    """A Lazarus form whose texts are vaUString (21), Free Pascal's UTF-16,
    and a UTF-8 string (20)."""
    return (b"TPF0" + sstr("TUniForm") + sstr("UniForm") + sstr("Caption") + string(values["ucaption"]) +
            sstr("Tag") + b"\x02\x07" + sstr("Hint") + string(values["uhint"]) + b"\x00" + sstr("TLabel") +
            sstr("Label1") + sstr("Caption") + string(values["ulabel"]) + sstr("Hint") +
            vutf8(values["uutf8"]) + b"\x00\x00\x00")


def vutf8(s):
    b = s.encode("utf-8")
    return b"\x14" + struct.pack("<I", len(b)) + b


def fpc_qword_form(values):
    """A Lazarus form with a qword (22), which the text form cannot say, and
    UTF-8 in a vaString, as Lazarus writes it."""
    return (b"TPF0" + sstr("TQForm") + sstr("QForm") + sstr("Size") + b"\x16" + struct.pack("<Q", 2**64 - 2) +
            sstr("Caption") + vstring(values["qcaption"]) + sstr("Hint") +
            vstring(values["qhint"], "utf-8", QWORD_TEXTS["qhint"][1]) + b"\x00\x00")


QWORD_TEXTS = {"qcaption": ("Caption", "After a qword"), "qhint": ("Hint", "Caf\u00e9 \u786e\u5b9a")}


def ansi_form(values):
    """Eight-bit strings of an unknown compiler: UTF-8 where they are
    well-formed UTF-8, else Windows-1252."""
    return (b"TPF0" + sstr("TAnsiForm") + sstr("AnsiForm") +
            sstr("Caption") + vstring(values["acaption"], "cp1252", ANSI_FORM_TEXTS["acaption"][1]) +
            sstr("Hint") + vstring(values["ahint"], "utf-8", ANSI_FORM_TEXTS["ahint"][1]) + b"\x00\x00")


ANSI_FORM_TEXTS = {"acaption": ("Caption", "Caf\u00e9 \u20ac5"), "ahint": ("Hint", "Caf\u00e9 UTF-8")}


UNI_TEXTS = {
    "ucaption": ("Caption", "Unicode form"),
    "uhint": ("Hint", "\u786e\u5b9a written by Lazarus"),
    "ulabel": ("Label1.Caption", "&Label"),
    "uutf8": ("Label1.Hint", "UTF-8 \u786e\u5b9a"),
}


def delphi_form(values):
    """A Delphi form: a double (21) between texts, single, currency, date,
    int64 and a collection whose items carry an order."""
    return (b"TPF0" + sstr("TDelphiForm") + sstr("DelphiForm") + sstr("Caption") +
            vstring(values["xcaption"], "cp1252", DELPHI_TEXTS["xcaption"][1]) +
            sstr("Ratio") + b"\x15" + struct.pack("<d", 1.0) + sstr("Hint") + vstring(values["xhint"]) +
            sstr("Scale") + b"\x0f" + struct.pack("<f", 0.5) + sstr("Price") + b"\x10" +
            struct.pack("<q", 125000) + sstr("Due") + b"\x11" + struct.pack("<d", 45000.25) + sstr("Big") +
            b"\x13" + struct.pack("<q", -5) + b"\x00" + sstr("THeaderControl") + sstr("Header") +
            sstr("Sections") + b"\x0e" + b"\x02\x03\x01" + sstr("Text") + vstring(values["xsect0"]) +
            sstr("Width") + b"\x03" + struct.pack("<h", 300) + b"\x00" + b"\x03" + struct.pack("<h", 1000) +
            b"\x01" + sstr("Text") + vstring(values["xsect1"]) + b"\x00" + b"\x04" + struct.pack("<i", 100000) +
            b"\x01" + sstr("Text") + vstring(values["xsect2"]) + b"\x00" + b"\x00" + b"\x00\x00\x00")


DELPHI_TEXTS = {
    "xcaption": ("Caption", "Delphi form \u00e9\u20ac"),
    "xhint": ("Hint", "Read past a double"),
    "xsect0": ("Header.Sections[0].Text", "First"),
    "xsect1": ("Header.Sections[1].Text", "Second"),
    "xsect2": ("Header.Sections[2].Text", "Third"),
}


def program_source(mark):
    return ('const char kMark[] = "%s";\n'
            "int main(int argc, char** argv) { (void)argv; return kMark[argc & 7]; }\n" % mark)


def build_program(work, name, bits, resources, mark="no compiler mark", strings=None):
    """A mingw program holding resources (RCDATA name: bytes) and mark."""
    triple = "i686-w64-mingw32" if bits == 32 else "x86_64-w64-mingw32"
    folder = os.path.join(work, name)
    os.makedirs(folder)
    rc = []
    for res, data in resources.items():
        path = os.path.join(folder, res + ".bin")
        with open(path, "wb") as f:
            f.write(data)
        rc.append('%s RCDATA "%s"' % (res, path))
    if strings:
        rc.append("STRINGTABLE\n{\n%s\n}" % "\n".join('  %d, "%s"' % kv for kv in strings.items()))
    with open(os.path.join(folder, "p.rc"), "w") as f:
        f.write("\n".join(rc) + "\n")
    with open(os.path.join(folder, "p.c"), "w") as f:
        f.write(program_source(mark))
    obj, exe = os.path.join(folder, "p_res.o"), os.path.join(work, name + ".exe")
    subprocess.run([triple + "-windres", "-O", "coff", "-i", os.path.join(folder, "p.rc"), "-o", obj], check=True)
    subprocess.run([triple + "-gcc", "-O1", "-s", "-o", exe, os.path.join(folder, "p.c"), obj], check=True)
    return exe


def rcdata(path):
    pe = pefile.PE(path)
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != RT_RCDATA:
            continue
        for n in t.directory.entries:
            name = str(n.name) if n.name is not None else str(n.id)
            for lang in n.directory.entries:
                d = lang.data.struct
                out[name] = pe.get_data(d.OffsetToData, d.Size)
    pe.close()
    return out


def po_unquote(lines):
    s = "".join(re.match(r'^(?:msgctxt |msgid |msgstr )?"(.*)"$', l).group(1) for l in lines)
    named = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "b": "\b", "f": "\f", "v": "\v"}
    return re.sub(r'\\([0-7]{1,3}|x[0-9A-Fa-f]+|.)', lambda m: chr(int(m.group(1), 8)) if m.group(1)[0] in "01234567"
                  else chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == "x" else named.get(m.group(1), m.group(1)), s)


def po_quote(s):
    for c, e in (("\\", "\\\\"), ('"', '\\"'), ("\n", "\\n"), ("\r", "\\r"), ("\t", "\\t")):
        s = s.replace(c, e)
    return '"' + s + '"'


def read_po(path):
    """[(msgctxt, msgid)] of the entries after the header, and the blocks."""
    with open(path, encoding="utf-8", errors="replace") as f:
        blocks = f.read().strip("\n").split("\n\n")
    entries = []
    for b in blocks[1:]:
        fields, key = {}, None
        for line in b.split("\n"):
            m = re.match(r"^(msgctxt|msgid|msgstr) ", line)
            if m:
                key = m.group(1)
                fields[key] = [line]
            elif line.startswith('"') and key:
                fields[key].append(line)
        entries.append((po_unquote(fields.get("msgctxt", ['""'])), po_unquote(fields["msgid"])))
    return entries, blocks


def write_po(pot, path, translate):
    """The template pot with each entry's msgstr translate(msgctxt, msgid)."""
    entries, blocks = read_po(pot)
    out = [blocks[0]]
    for (ctxt, msgid), b in zip(entries, blocks[1:]):
        kept = []
        for line in b.split("\n"):
            if line.startswith("msgstr "):
                break
            kept.append(line)
        if kept and kept[0] == "#, fuzzy":
            kept = kept[1:]
        out.append("\n".join(kept) + "\nmsgstr " + po_quote(translate(ctxt, msgid)))
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n\n".join(out).replace("#, fuzzy\nmsgid \"\"", "msgid \"\"", 1) + "\n")


def longer(key, s, i):
    """Longer: Chinese after the source, or ASCII past 255 bytes."""
    if i % 2 == 0:
        return s + " \u4e2d\u6587\u7ffb\u8bd1 \u786e\u5b9a"
    return s + " " + "".join("padding%03d " % n for n in range(30))


def shorter(key, s, i):
    """Shorter, keeping the accelerator."""
    keep = max(1, len(s) // 2)
    amp = s.find("&")
    if amp >= 0:
        keep = max(keep, amp + 2)
    if keep < len(s):
        return s[:keep]
    return s[:amp - 1] + s[amp:] if amp > 0 else s[:-1]


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    cli, oracle_tool = sys.argv[1], sys.argv[2]
    missing = [t for t in ("fpc", "i686-w64-mingw32-gcc", "x86_64-w64-mingw32-gcc", "i686-w64-mingw32-windres",
                           "x86_64-w64-mingw32-windres") if shutil.which(t) is None]
    if pefile is None:
        missing.append("python3-pefile")
    if not oracle_tool or not os.access(oracle_tool, os.X_OK):
        missing.append("form_oracle")
    if missing:
        print("SKIP: missing " + ", ".join(missing))
        return 77
    fail = Failures()
    work = tempfile.mkdtemp(prefix="pivra-forms-")
    try:
        check_all(cli, Oracle(oracle_tool, work), work, fail)
    finally:
        if not os.environ.get("PIVRA_KEEP"):
            shutil.rmtree(work, ignore_errors=True)
    for line in fail.lines:
        print(line)
    print("%d faults" % len(fail.lines))
    return 1 if fail.lines else 0


def extract(cli, exe, work, fail, tag, options=(), msgfmt=True):
    pot = os.path.join(work, tag + ".pot")
    r = run([cli, "po", "extract", exe, "-o", pot] + list(options))
    if r.returncode != 0:
        fail("%s: po extract failed: %s" % (tag, r.stderr.decode(errors="replace").strip()))
        return None, ""
    with open(pot, "rb") as f:
        try:
            f.read().decode("utf-8")
        except UnicodeDecodeError as e:
            fail("%s: the template is not UTF-8 at byte %d" % (tag, e.start))
    if msgfmt and shutil.which("msgfmt"):
        r2 = run(["msgfmt", "--check", "-o", os.devnull, pot])
        if r2.returncode != 0:
            fail("%s: msgfmt refuses the template: %s" % (tag, r2.stderr.decode(errors="replace").strip()[:300]))
    # Names in a damaged form's faults are its bytes as they stand.
    return pot, r.stderr.decode(errors="replace")


def expect_entries(entries, expected, fail, tag, others=()):
    """entries (ctxt, msgid) of forms must be expected, each exactly once,
    and beside them only others."""
    for e in sorted(set(e for e in entries if not e[0].startswith("FORM ")) - set(others)):
        fail("%s: listed beside the forms: %r" % (tag, e))
    got = [e for e in entries if e[0].startswith("FORM ")]
    for e in sorted(set(got)):
        if got.count(e) > 1:
            fail("%s: listed %d times: %r" % (tag, got.count(e), e))
    for e in sorted(set(got) - set(expected)):
        fail("%s: listed but no text: %r" % (tag, e))
    for e in sorted(set(expected) - set(got)):
        fail("%s: not listed: %r" % (tag, e))


def form_entries(res, keys, table):
    return [("FORM %s / %s" % (res, table[k][0]), table[k][1]) for k in keys]


def font_warnings(values, keys):
    """{(form, font line): [texts]} that po check must warn of."""
    out = {}
    for k in keys:
        if k in ANSI_TEXTS and any(ord(c) > 127 for c in values[k]):
            out.setdefault(("FORM TDERIVEDFORM", ANSI_TEXTS[k]), []).append(TEXTS[k][0])
    return out


def po_check(cli, exe, po, fail, tag, warnings):
    """po check of po finds no problem but the font warnings."""
    r = run([cli, "po", "check", exe, po])
    sections, section = {}, None
    for line in r.stdout.decode().splitlines():
        m = re.match(r"^(\S.*) \(\d+\):$", line)
        if m:
            section = m.group(1)
            sections[section] = []
        elif line.startswith("  ") and section:
            sections[section].append(line.strip())
    fonts = sections.pop("form fonts that keep Chinese from showing", [])
    # Forms are not laid out in dialog units: each translated one is noted as not judged for room.
    translated_forms = set()
    with open(po, encoding="utf-8") as f:
        for block in f.read().split("\n\n"):
            m = re.search(r'^msgctxt "(FORM \S+) / ', block, re.M)
            if m and not re.search(r'^msgstr ""\n?(?!")', block + "\n", re.M):
                translated_forms.add(m.group(1))
    noted = sections.get("note: forms not judged for room (not laid out in dialog units)", [])
    if set(noted) != translated_forms:
        fail("%s: po check notes the forms %s as not judged for room, not %s" % (tag, noted, sorted(translated_forms)))
    problems = {k: v for k, v in sections.items() if not k.startswith("note:")}
    if problems:
        fail("%s: po check: %s" % (tag, " | ".join("%s: %s" % (k, "; ".join(v)) for k, v in problems.items())))
    for (form, font), texts in warnings.items():
        lines = [l for l in fonts if l.startswith("%s: %s, " % (form, font))]
        named = re.findall(r"cannot draw (\d+) translated texts? \((.*)\): ", lines[0]) if lines else []
        if len(lines) != 1 or not named or int(named[0][0]) != len(texts) or \
                not set(named[0][1].replace(", ...", "").split(", ")) <= set(texts):
            fail("%s: po check does not warn once that %s keeps %s from showing: %s" % (tag, font, texts, fonts))
    if len(fonts) != len(warnings):
        fail("%s: po check warns of %d fonts, %d expected: %s" % (tag, len(fonts), len(warnings), fonts))
    if r.returncode != (1 if warnings or problems else 0):
        fail("%s: po check exits %d: %s" % (tag, r.returncode, r.stderr.decode().strip()))


def apply_po(cli, exe, pot, work, fail, tag, translate, warnings={}):
    """Writes the PO, checks and applies it; the applied program or None."""
    po, out = os.path.join(work, tag + ".po"), os.path.join(work, tag + ".exe")
    write_po(pot, po, translate)
    po_check(cli, exe, po, fail, tag, warnings)
    r = run([cli, "po", "apply", exe, po, "-o", out])
    if r.returncode != 0:
        fail("%s: po apply failed: %s" % (tag, r.stderr.decode().strip()))
        return None
    return out


def boundary(key, s, i):
    """ASCII of exactly 255 and 256 bytes, where vaString ends."""
    n = 255 + i % 2
    return (s + " " + "-" * n)[:n]


def check_all(cli, oracle, work, fail):
    keys = [k for t in FORMS.values() for k in form_keys(t)]
    sources = {k: TEXTS[k][1] for k in keys}
    binaries = {res: oracle.tobinary(render(t, sources)) for res, t in FORMS.items()}
    strings = {1: "Ready", 2: "Printing..."}
    exe32 = build_program(work, "forms32", 32, binaries, strings=strings)
    exe64 = build_program(work, "forms64", 64, binaries)
    check_program(cli, oracle, work, fail, "forms32", exe32, binaries, sources, strings)
    check_program(cli, oracle, work, fail, "forms64", exe64, binaries, sources, {})
    check_program(cli, oracle, work, fail, "forms64-property", exe64, binaries, sources, {}, EXTRA_PROPERTY)
    check_cuts(cli, work, fail, "cuts", binaries, binaries, {})
    check_dialects(cli, oracle, work, fail)
    uni = fpc_unicode_form({k: v[1] for k, v in UNI_TEXTS.items()}, lambda s: vwide(21, s))
    check_mutants(cli, oracle, work, fail, dict(binaries, TUNIFORM=uni))


def check_program(cli, oracle, work, fail, tag, exe, binaries, sources, strings, extra=None):
    """Every text of FORMS listed once, translated longer, shorter and to
    the ends of vaString, each form then the oracle's form of its source with
    the translations; an empty round trip keeps every form."""
    pot, stderr = extract(cli, exe, work, fail, tag, ["--form-property", extra[0]] if extra else [])
    if pot is None:
        return
    if stderr.strip():
        fail("%s: po extract complained: %s" % (tag, stderr.strip()))
    entries, _ = read_po(pot)
    # The extra property's text only with --form-property.
    keys = [k for k in sources if k != EXTRA_PROPERTY[1] or extra]
    expected = [e for res, t in FORMS.items() for e in form_entries(res, [k for k in form_keys(t) if k in keys],
                                                                    TEXTS)]
    if not extra:
        check_map(cli, oracle, exe, binaries, fail, tag)
    table = [("STRINGTABLE / 0x%04X" % n, s) for n, s in strings.items()]
    expect_entries(entries, expected, fail, tag, table)
    for e in table:
        if e not in entries:
            fail("%s: string %r not listed beside the forms" % (tag, e))
    context_key = {("FORM %s / %s" % (res, TEXTS[k][0]), TEXTS[k][1]): k for res, t in FORMS.items()
                   for k in form_keys(t) if k in keys}
    for how in (longer, shorter, boundary):
        values = dict(sources)
        values.update({k: how(k, sources[k], i) for i, k in enumerate(keys)})

        def translate(ctxt, msgid):
            k = context_key.get((ctxt, msgid))
            return values[k] if k else msgid + " (translated)"

        out = apply_po(cli, exe, pot, work, fail, "%s-%s" % (tag, how.__name__), translate,
                       font_warnings(values, keys))
        if out is None:
            continue
        got = rcdata(out)
        for res, t in FORMS.items():
            want, _ = oracle.totext(oracle.tobinary(render(t, values)))
            have, why = oracle.totext(got.get(res, b""))
            if have is None:
                fail("%s %s %s: the oracle cannot read the translated form: %s" % (tag, how.__name__, res, why))
            elif have != want:
                fail("%s %s %s: the translated form differs:\n%s" % (tag, how.__name__, res, diff(want, have)))
    out = apply_po(cli, exe, pot, work, fail, tag + "-same", lambda c, m: m)
    if out is not None:
        got = rcdata(out)
        for res, data in binaries.items():
            if got.get(res) != data:
                fail("%s: the empty round trip changed %s" % (tag, res))


def check_map(cli, oracle, exe, binaries, fail, tag):
    """pivra-cli extract labels each form text in the map as the oracle's
    reading places it in the tree of objects, at the file offset its bytes
    are at."""
    r = run([cli, "extract", "--json", exe])
    try:
        texts = json.loads(r.stdout.decode())["texts"]
    except (ValueError, KeyError) as e:
        fail("%s: extract --json: %s %s" % (tag, e, r.stderr.decode(errors="replace").strip()))
        return
    with open(exe, "rb") as f:
        image = f.read()
    want = []
    for res, data in binaries.items():
        oracle_texts(oracle.totext(data)[0], res, labels=want)
    for t in texts:
        # The rule files' notation: \\, \r, \n, \t and \xHH.
        t["en"] = re.sub(r"\\(x[0-9A-Fa-f]{2}|.)", lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 3
                         else {"r": "\r", "n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), t["en"])
    have = [(t["label"], t["en"]) for t in texts if t["label"].startswith("FORM ") and
            not t["label"].endswith(", string")]
    for e in sorted(set(want) - set(have)):
        fail("%s: the map has no text %r" % (tag, e))
    for e in sorted(set(have) - set(want)):
        fail("%s: the map has a text the oracle does not: %r" % (tag, e))
    for t in texts:
        if t["label"].startswith("FORM "):
            b = t["en"].encode("utf-16-le" if t["unicode"] else "latin-1", errors="replace")
            if image[t["offset"]:t["offset"] + len(b)] != b:
                fail("%s: %s is not at 0x%X" % (tag, t["label"], t["offset"]))


def diff(want, have):
    import difflib
    return "\n".join(list(difflib.unified_diff(want.splitlines(), have.splitlines(), "expected", "written",
                                               lineterm=""))[:40])


def check_cuts(cli, work, fail, tag, forms, whole, expected_whole, mark="no compiler mark", extra={}):
    """Every prefix of each form in forms beside the whole forms: each cut
    refused and named, none of its texts listed, the whole forms still read
    (expected_whole: their entries; FORMS' when empty)."""
    resources = dict(whole)
    resources.update(extra)
    names = {}
    for i, data in enumerate(forms.values()):
        for n in range(4, len(data)):
            names["CUT%d_%04d" % (i, n)] = data[:n]
    resources.update(names)
    exe = build_program(work, tag, 32, resources, mark=mark)
    pot, stderr = extract(cli, exe, work, fail, tag)
    if pot is None:
        return
    entries, _ = read_po(pot)
    expected = expected_whole or [e for res, t in FORMS.items() for e in form_entries(res, form_keys(t), TEXTS)
                                  if e[0] != "FORM TMAINFORM / StatusBar.SimpleText"]
    expect_entries(entries, expected, fail, tag)
    reasons = dict(re.findall(r"RCDATA (CUT\d+_\d{4}): (.*)", stderr))
    unnamed = sorted(set(names) - set(reasons))
    if unnamed:
        fail("%s: %d of %d cuts not named on stderr, the first %s" % (tag, len(unnamed), len(names), unnamed[:5]))
    # Refused as cut, at a place or object the reason names.
    vague = sorted(n for n, r in reasons.items()
                   if not r.startswith("the form ends ") or re.search(r"( of|\s\.\S*)$", r))
    for n in vague[:5]:
        fail("%s: %s refused as %r" % (tag, n, reasons[n]))
    if len(vague) > 5:
        fail("%s: %d more cuts refused so" % (tag, len(vague) - 5))


def check_dialects(cli, oracle, work, fail):
    fpc_mark = "FPC 3.2.2 [2021/05/16] for i386 - Win32"
    sources = {k: v[1] for k, v in UNI_TEXTS.items()}
    uni = fpc_unicode_form(sources, lambda s: vwide(21, s))
    text, why = oracle.totext(uni)
    if text is None or "#30830#23450" not in text:
        fail("dialect: the oracle does not read value type 21 as a string: %s" % (why or text))
    qsources = {k: v[1] for k, v in QWORD_TEXTS.items()}
    qform = fpc_qword_form(qsources)
    menu = oracle.tobinary(render(MENU_FORM, {k: v[1] for k, v in TEXTS.items()}))
    menu_entries = form_entries("TMENUFORM", form_keys(MENU_FORM), TEXTS)
    uni_entries = form_entries("TUNIFORM", list(UNI_TEXTS), UNI_TEXTS)
    q_entries = form_entries("TQFORM", list(QWORD_TEXTS), QWORD_TEXTS)

    # Free Pascal's program: 21 is a string, translated; 22 a qword.
    lazarus = {"TUNIFORM": uni, "TMENUFORM": menu, "TQFORM": qform}
    exe = build_program(work, "lazarus", 32, lazarus, mark=fpc_mark)
    pot, stderr = extract(cli, exe, work, fail, "lazarus")
    if pot is not None:
        if stderr.strip():
            fail("lazarus: po extract complained: %s" % stderr.strip())
        entries, _ = read_po(pot)
        expect_entries(entries, uni_entries + menu_entries + q_entries, fail, "lazarus")
        keyed = {("FORM TUNIFORM / " + UNI_TEXTS[k][0], s): k for k, s in sources.items()}
        keyed.update({("FORM TQFORM / " + QWORD_TEXTS[k][0], s): k for k, s in qsources.items()})
        for how in (longer, shorter):
            values = {k: how(k, s, i) for i, (k, s) in enumerate(list(sources.items()) + list(qsources.items()))}
            out = apply_po(cli, exe, pot, work, fail, "lazarus-" + how.__name__,
                           lambda c, m: values[keyed[(c, m)]] if (c, m) in keyed else m)
            if out is None:
                continue
            got = rcdata(out)
            want, _ = oracle.totext(fpc_unicode_form(values, lambda s: vwide(21, s)))
            have, why = oracle.totext(got.get("TUNIFORM", b""))
            if have != want:
                fail("lazarus %s: the translated form differs: %s" % (how.__name__, why or diff(want, have)))
            if got.get("TQFORM") != fpc_qword_form(values):
                fail("lazarus %s: the form with a qword is not the source with its text replaced" % how.__name__)
        out = apply_po(cli, exe, pot, work, fail, "lazarus-same", lambda c, m: m)
        if out is not None and any(rcdata(out).get(k) != v for k, v in lazarus.items()):
            fail("lazarus: the empty round trip changed a form")
    check_cuts(cli, work, fail, "lazarus-cuts", {"TUNIFORM": uni, "TQFORM": qform}, lazarus,
               uni_entries + menu_entries + q_entries, mark=fpc_mark)

    # No compiler known: 21 refused, with the reason; the other forms still
    # read, eight-bit strings as UTF-8 or Windows-1252.
    asources = {k: v[1] for k, v in ANSI_FORM_TEXTS.items()}
    aform = ansi_form(asources)
    exe = build_program(work, "unknown", 32, {"TUNIFORM": uni, "TMENUFORM": menu, "TANSIFORM": aform})
    pot, stderr = extract(cli, exe, work, fail, "unknown")
    if pot is not None:
        entries, _ = read_po(pot)
        expect_entries(entries, menu_entries + form_entries("TANSIFORM", list(ANSI_FORM_TEXTS), ANSI_FORM_TEXTS),
                       fail, "unknown")
        if not re.search(r"RCDATA TUNIFORM: value type 21 .*compiler", stderr):
            fail("unknown: TUNIFORM not refused for its value type 21: %r" % stderr.strip())
        keyed = {("FORM TANSIFORM / " + ANSI_FORM_TEXTS[k][0], s): k for k, s in asources.items()}
        for how in (longer, shorter):
            values = {k: how(k, s, i) for i, (k, s) in enumerate(asources.items())}
            out = apply_po(cli, exe, pot, work, fail, "unknown-" + how.__name__,
                           lambda c, m: values[keyed[(c, m)]] if (c, m) in keyed else m)
            if out is not None and rcdata(out).get("TANSIFORM") != ansi_form(values):
                fail("unknown %s: the translated form is not the source with its texts replaced" % how.__name__)
        out = apply_po(cli, exe, pot, work, fail, "unknown-same", lambda c, m: m)
        if out is not None and any(rcdata(out).get(k) != v for k, v in (("TANSIFORM", aform), ("TMENUFORM", menu))):
            fail("unknown: the empty round trip changed a form")

    # Delphi's program (DVCLAL): 21 is a double of 8 bytes, 22 no value.
    xsources = {k: v[1] for k, v in DELPHI_TEXTS.items()}
    delphi = delphi_form(xsources)
    dvclal = {"DVCLAL": bytes(16)}
    exe = build_program(work, "delphi", 64, dict(dvclal, TDELPHIFORM=delphi, TQFORM=qform))
    pot, stderr = extract(cli, exe, work, fail, "delphi")
    delphi_entries = form_entries("TDELPHIFORM", list(DELPHI_TEXTS), DELPHI_TEXTS)
    if pot is not None:
        if not re.search(r"RCDATA TQFORM: value type 22 ", stderr):
            fail("delphi: TQFORM not refused for its value type 22: %r" % stderr.strip())
        entries, _ = read_po(pot)
        expect_entries(entries, delphi_entries, fail, "delphi")
        keyed = {("FORM TDELPHIFORM / " + DELPHI_TEXTS[k][0], s): k for k, s in xsources.items()}
        for how in (longer, shorter, boundary):
            values = {k: how(k, s, i) for i, (k, s) in enumerate(xsources.items())}
            out = apply_po(cli, exe, pot, work, fail, "delphi-" + how.__name__,
                           lambda c, m: values[keyed[(c, m)]] if (c, m) in keyed else m)
            if out is not None and rcdata(out).get("TDELPHIFORM") != delphi_form(values):
                fail("delphi %s: the translated form is not the source with its texts replaced" % how.__name__)
        out = apply_po(cli, exe, pot, work, fail, "delphi-same", lambda c, m: m)
        if out is not None and rcdata(out).get("TDELPHIFORM") != delphi:
            fail("delphi: the empty round trip changed TDELPHIFORM")
    check_cuts(cli, work, fail, "delphi-cuts", {"TDELPHIFORM": delphi}, {"TDELPHIFORM": delphi}, delphi_entries,
               extra=dvclal)


# The names of text properties, as pivra-cli lists them by default.
TEXT_PROPERTIES = {"Caption", "Hint", "Text", "TextHint", "Title", "Filter", "DisplayLabel", "EditLabel.Caption",
                   "Items.Strings", "Lines.Strings", "Tabs.Strings"}


def oracle_texts(text, res, inline_at=None, labels=None):
    """[(msgctxt, msgid)] of the texts in the oracle's text of a form, named
    as pivra-cli names them; labels gets [(map label, text)]. The text shows
    an object that is inherited and inline as inherited only: inline_at takes
    the inherited object on that line as inline too."""
    lines = [l.strip() for l in text.split("\n")]
    at = [0]
    found = []
    labels = [] if labels is None else labels

    def string(line):
        out, pos = "", 0
        for m in re.finditer(r"'((?:[^']|'')*)'|#(\d+)", line):
            if m.start() != pos:
                raise ValueError("not a string: " + line)
            pos = m.end()
            out += m.group(1).replace("''", "'") if m.group(2) is None else chr(int(m.group(2)))
        if pos != len(line):
            raise ValueError("not a string: " + line)
        return out

    def value(first, name, shown, path, label):
        if first[:1] in ("'", "#"):
            s = string(first)
            if name in TEXT_PROPERTIES and s:
                found.append(("FORM %s / %s%s" % (res, path + "." if path else "", shown), s))
                labels.append(("FORM %s en-US, %s.%s" % (res, label, shown), s))
        elif first == "(":
            i = 0
            while lines[at[0]] != ")":
                at[0] += 1
                value(lines[at[0] - 1], name, "%s[%d]" % (shown, i), path, label)
                i += 1
            at[0] += 1
        elif first.startswith("(") and first[1:].strip() == ")":
            pass
        elif first == "{":
            while lines[at[0]] != "}":
                at[0] += 1
            at[0] += 1
        elif first == "<":
            i = 0
            while True:
                head = lines[at[0]]
                at[0] += 1
                if head != "item":
                    raise ValueError("an ordered item")
                while lines[at[0]] not in ("end", "end>"):
                    prop("%s[%d]." % (shown, i), path, label)
                i += 1
                at[0] += 1
                if lines[at[0] - 1] == "end>":
                    break
        elif first.startswith("<"):
            if first != "<>":
                raise ValueError("a collection: " + first)

    def prop(prefix, path, label):
        line = name_text(lines[at[0]])
        at[0] += 1
        name, sep, first = line.partition(" = ")
        if not sep:
            raise ValueError("no property: " + line)
        value(first.strip(), name, prefix + (name[:-8] if name.endswith(".Strings") else name), path, label)

    def obj(owner, parent, parent_label):
        here = at[0]
        m = re.match(r"^(object|inherited|inline) (?:(.*?): )?(.*?)(?:\[-?\d+\])?$", lines[here])
        if not m:
            raise ValueError("no object: " + lines[here])
        at[0] += 1
        kind, name, cls = m.group(1), name_text(m.group(2) or ""), name_text(m.group(3))
        path = "" if parent is None else owner + (name or cls)
        # In the map, an object is labelled by its place in the tree.
        label = (parent_label + "." if parent_label else "") + (name or cls)
        inline = kind == "inline" or (kind == "inherited" and here == inline_at)
        inner = path + "." if inline and path else owner
        while not re.match(r"^(end|object .*|inherited .*|inline .*)$", lines[at[0]]):
            prop("", path, label)
        while lines[at[0]] != "end":
            obj(inner, path, label)
        at[0] += 1

    obj("", None, "")
    return found


def name_text(s):
    """A name as the oracle's text holds its bytes (read as Latin-1), in
    UTF-8 where it is that, else in Windows-1252."""
    b = s.encode("latin-1")
    try:
        return b.decode("utf-8")
    except UnicodeDecodeError:
        return "".join(bytes([c]).decode("cp1252", errors="ignore") or chr(c) for c in b)


def oracle_readings(text, res):
    """The readings oracle_texts gives: each inherited object plain, or one
    of them inline."""
    inherited = [i for i, l in enumerate(text.split("\n")) if l.strip().startswith("inherited ")]
    return [oracle_texts(text, res, i) for i in [None] + inherited]


def mutants(data, rng, count):
    """count forms that differ from data by a byte changed, dropped or added."""
    out = []
    while len(out) < count:
        i = rng.randrange(4, len(data))
        how = rng.randrange(4)
        if how == 0:
            m = data[:i] + bytes([rng.randrange(256)]) + data[i + 1:]
        elif how == 1:
            m = data[:i] + bytes([(data[i] + rng.choice((1, -1))) & 0xFF]) + data[i + 1:]
        elif how == 2:
            m = data[:i] + data[i + 1:]
        else:
            m = data[:i] + bytes([rng.randrange(256)]) + data[i:]
        if m != data:
            out.append(m)
    return out


def check_mutants(cli, oracle, work, fail, forms):
    """Forms a byte away from the table's, in a Free Pascal program (where
    value type 21 is a string, as the oracle reads it): pivra-cli lists of
    each form it reads exactly the texts of the oracle's reading of it."""
    import random
    rng = random.Random(20261210)
    resources = {}
    for f, data in enumerate(forms.values()):
        for n, m in enumerate(mutants(data, rng, 300)):
            resources["MUT%d_%03d" % (f, n)] = m
    exe = build_program(work, "mutants", 32, resources, mark="FPC 3.2.2 [2021/05/16] for i386 - Win32")
    # Not judged by msgfmt: a damaged string may hold characters (EOT) that
    # gettext keeps out of every message.
    pot, stderr = extract(cli, exe, work, fail, "mutants", msgfmt=False)
    if pot is None:
        return
    entries, _ = read_po(pot)
    refused = dict(re.findall(r"RCDATA (MUT\d+_\d+): (.*)", stderr))
    compared = agreed = 0
    for res, data in resources.items():
        listed = sorted(e for e in entries if e[0].startswith("FORM %s / " % res))
        text, why = oracle.totext(data)
        if text is None:
            # Value types 15-17 and 22 the oracle's text has no form for.
            if res not in refused and not re.search(r"property type.*: (15|16|17|22)$|did not finish", why):
                fail("mutants: %s read, but the oracle refuses it: %s" % (res, why))
            continue
        try:
            readings = oracle_readings(text, res)
        except (ValueError, IndexError):
            continue
        # A string past ASCII is compared by its context only: the oracle's
        # text shows a vaString's bytes, not the characters they encode.
        unknown = {c for c, t in readings[0] if any(ord(ch) > 127 for ch in t)}
        listed = sorted((c, None if c in unknown else t) for c, t in listed)
        readings = [sorted((c, None if c in unknown else t) for c, t in r) for r in readings]
        theirs = next((r for r in readings if r == listed), readings[0])
        compared += 1
        if res in refused:
            fail("mutants: %s refused (%s), but the oracle reads it" % (res, refused[res]))
        elif listed != theirs:
            fail("mutants: %s: listed %s, the oracle reads %s" % (res, sorted(set(listed) - set(theirs)),
                                                                 sorted(set(theirs) - set(listed))))
        else:
            agreed += 1
    print("mutants: %d of %d read by the oracle and compared, %d agree" % (compared, len(resources), agreed))


if __name__ == "__main__":
    sys.exit(main())
