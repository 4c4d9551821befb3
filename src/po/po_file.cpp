// A reader and writer of gettext PO files. Debian has no PO library for the
// mingw build, so this follows the grammar GNU gettext's own reader accepts.
#include "po/po_file.h"

#include "port/utf8.h"

#include <cstring>
#include <map>
#include <tuple>

namespace
{
enum PoPhase
{
    kPhaseNone, // comments or "#|" lines so far
    kPhaseContext,
    kPhaseId,
    kPhaseIdPlural,
    kPhaseStr
};

typedef std::tuple<bool, std::string, std::string> PoKey;

PoKey KeyOf(const PoEntry& entry)
{
    return PoKey(entry.fHasContext, entry.sContext, entry.sId);
}

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\f' || ch == '\v' || ch == '\r';
}

// Strict UTF-8 (no overlong forms, surrogates or NUL), because every text is
// turned into UTF-16 for the image and a bad byte there would be lost.
bool IsUtf8(const char* p, size_t cb)
{
    size_t badAt = 0;
    return std::memchr(p, 0, cb) == nullptr && IsWellFormedUtf8(p, cb, badAt);
}

bool IsUtf8(const std::string& s)
{
    return IsUtf8(s.data(), s.size());
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

char LowerAscii(char ch)
{
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + ('a' - 'A')) : ch;
}

bool SameAsciiNoCase(const std::string& a, const char* sz)
{
    size_t i = 0;
    for (; i < a.size() && sz[i] != '\0'; i++)
    {
        if (LowerAscii(a[i]) != LowerAscii(sz[i]))
            return false;
    }
    return i == a.size() && sz[i] == '\0';
}

// The charset a header's Content-Type names, or "" when it names none.
std::string HeaderCharset(const std::string& sHeader)
{
    size_t iLine = 0;
    while (iLine < sHeader.size())
    {
        size_t iEnd = sHeader.find('\n', iLine);
        if (iEnd == std::string::npos)
            iEnd = sHeader.size();
        std::string sLine = sHeader.substr(iLine, iEnd - iLine);
        iLine = iEnd + 1;
        std::string sLower = sLine;
        for (char& ch : sLower)
            ch = LowerAscii(ch);
        if (sLower.compare(0, 13, "content-type:") != 0)
            continue;
        size_t iCharset = sLower.find("charset=");
        if (iCharset == std::string::npos)
            return std::string();
        size_t iValue = iCharset + 8;
        size_t iValueEnd = iValue;
        while (iValueEnd < sLine.size() && !IsBlank(sLine[iValueEnd]) && sLine[iValueEnd] != ';')
            iValueEnd++;
        return sLine.substr(iValue, iValueEnd - iValue);
    }
    return std::string();
}

// A POT file still says "CHARSET"; ASCII is a subset of UTF-8.
bool IsReadableCharset(const std::string& sCharset)
{
    return sCharset.empty() || SameAsciiNoCase(sCharset, "utf-8") || SameAsciiNoCase(sCharset, "utf8") ||
           SameAsciiNoCase(sCharset, "charset") || SameAsciiNoCase(sCharset, "ascii") ||
           SameAsciiNoCase(sCharset, "us-ascii");
}

class CPoReader
{
  public:
    CPoReader(std::vector<PoEntry>& entries, std::string& sReason) : m_entries(entries), m_sReason(sReason) {}

    bool ReadLine(const char* p, size_t cch);
    bool Finish();

    int m_iLine = 0;

  private:
    bool Fail(int iLine, const std::string& sReason);
    bool Fail(const std::string& sReason) { return Fail(m_iLine, sReason); }
    bool ReadComment(const char* p, const char* pEnd);
    bool ReadTokens(const char* p, const char* pEnd, bool fObsolete, bool fPrevious);
    bool StartField(const std::string& sKeyword, int iIndex, bool fObsolete);
    bool StartPrevious(const std::string& sKeyword);
    bool ReadStrings(const char* p, const char* pEnd);
    bool EndEntry();
    void Reset();

    std::vector<PoEntry>& m_entries;
    std::string& m_sReason;
    std::map<PoKey, int> m_firstLines;
    PoEntry m_entry;
    PoPhase m_phase = kPhaseNone;
    int m_iEntryLine = 0; // the entry's first msgctxt or msgid
    int m_iIdLine = 0;
    int m_iStrLine = 0;
    bool m_fPlural = false;           // msgid_plural seen, even an empty one
    std::string* m_psField = nullptr; // what a line holding only strings continues
    bool m_fFieldObsolete = false;
    bool m_fFieldPrevious = false;
};

bool CPoReader::Fail(int iLine, const std::string& sReason)
{
    m_sReason = "line " + std::to_string(iLine) + ": " + sReason;
    return false;
}

void CPoReader::Reset()
{
    m_entry = PoEntry();
    m_phase = kPhaseNone;
    m_psField = nullptr;
    m_iEntryLine = 0;
    m_iIdLine = 0;
    m_iStrLine = 0;
    m_fPlural = false;
}

bool CPoReader::ReadLine(const char* p, size_t cch)
{
    const char* pEnd = p + cch;
    if (!IsUtf8(p, cch))
    {
        for (const char* q = p; q < pEnd; q++)
        {
            if (*q == '\0')
                return Fail("the line holds a NUL byte");
        }
        return Fail("the line is not valid UTF-8");
    }
    while (p < pEnd && IsBlank(*p))
        p++;
    if (p == pEnd)
        return true;
    if (*p != '#')
        return ReadTokens(p, pEnd, false, false);
    if (pEnd - p >= 2 && p[1] == '~')
    {
        if (pEnd - p >= 3 && p[2] == '|')
            return ReadTokens(p + 3, pEnd, true, true);
        return ReadTokens(p + 2, pEnd, true, false);
    }
    if (pEnd - p >= 2 && p[1] == '|')
        return ReadTokens(p + 2, pEnd, false, true);
    return ReadComment(p + 1, pEnd);
}

bool CPoReader::ReadComment(const char* p, const char* pEnd)
{
    if (m_phase == kPhaseStr && !EndEntry())
        return false;
    if (m_phase != kPhaseNone)
        return Fail("a comment inside an entry, before its msgstr");
    m_psField = nullptr;
    char chKind = p < pEnd ? *p : ' ';
    if (chKind == '.' || chKind == ':' || chKind == ',')
        p++;
    if (chKind == ':')
    {
        while (p < pEnd)
        {
            while (p < pEnd && IsBlank(*p))
                p++;
            const char* pStart = p;
            while (p < pEnd && !IsBlank(*p))
                p++;
            if (p > pStart)
                m_entry.references.emplace_back(pStart, p);
        }
        return true;
    }
    if (chKind == ',')
    {
        while (p < pEnd)
        {
            const char* pComma = p;
            while (pComma < pEnd && *pComma != ',')
                pComma++;
            const char* pStart = p;
            const char* pStop = pComma;
            while (pStart < pStop && IsBlank(*pStart))
                pStart++;
            while (pStop > pStart && IsBlank(pStop[-1]))
                pStop--;
            if (pStop > pStart)
                m_entry.flags.emplace_back(pStart, pStop);
            p = pComma < pEnd ? pComma + 1 : pEnd;
        }
        return true;
    }
    if (p < pEnd && *p == ' ')
        p++;
    if (chKind == '.')
        m_entry.extractedComments.emplace_back(p, pEnd);
    else
        m_entry.translatorComments.emplace_back(p, pEnd);
    return true;
}

bool CPoReader::ReadTokens(const char* p, const char* pEnd, bool fObsolete, bool fPrevious)
{
    while (p < pEnd && IsBlank(*p))
        p++;
    if (p == pEnd)
        return true;
    if (*p == '"')
    {
        if (m_psField == nullptr)
            return Fail("a string without a keyword before it");
        if (fObsolete != m_fFieldObsolete || fPrevious != m_fFieldPrevious)
            return Fail("the string continues a line of another kind (#~ or #|)");
        return ReadStrings(p, pEnd);
    }
    const char* pWord = p;
    while (p < pEnd && ((*p >= 'a' && *p <= 'z') || *p == '_'))
        p++;
    std::string sKeyword(pWord, p);
    int iIndex = -1;
    if (sKeyword == "msgstr")
    {
        const char* q = p;
        while (q < pEnd && IsBlank(*q))
            q++;
        if (q < pEnd && *q == '[')
        {
            q++;
            while (q < pEnd && IsBlank(*q))
                q++;
            const char* pDigits = q;
            long nIndex = 0;
            while (q < pEnd && *q >= '0' && *q <= '9' && q - pDigits < 6)
                nIndex = nIndex * 10 + (*q++ - '0');
            if (q == pDigits)
                return Fail("msgstr[ needs a number");
            while (q < pEnd && IsBlank(*q))
                q++;
            if (q == pEnd || *q != ']')
                return Fail("msgstr[" + std::to_string(nIndex) + " needs a closing ]");
            iIndex = static_cast<int>(nIndex);
            p = q + 1;
        }
    }
    else if (sKeyword != "msgctxt" && sKeyword != "msgid" && sKeyword != "msgid_plural")
    {
        while (p < pEnd && !IsBlank(*p) && *p != '"')
            p++;
        return Fail("unexpected text '" + std::string(pWord, p) + "'");
    }
    if (p < pEnd && !IsBlank(*p) && *p != '"')
        return Fail("unexpected text after " + sKeyword);
    if (fPrevious ? !StartPrevious(sKeyword) : !StartField(sKeyword, iIndex, fObsolete))
        return false;
    m_fFieldObsolete = fObsolete;
    m_fFieldPrevious = fPrevious;
    while (p < pEnd && IsBlank(*p))
        p++;
    if (p == pEnd)
        return Fail(sKeyword + " needs a string in quotes");
    return ReadStrings(p, pEnd);
}

bool CPoReader::StartPrevious(const std::string& sKeyword)
{
    if (m_phase == kPhaseStr && !EndEntry())
        return false;
    if (m_phase != kPhaseNone)
        return Fail("a #| line inside an entry, before its msgstr");
    if (sKeyword == "msgctxt")
    {
        m_entry.fHasPrevContext = true;
        m_psField = &m_entry.sPrevContext;
    }
    else if (sKeyword == "msgid")
    {
        m_psField = &m_entry.sPrevId;
    }
    else if (sKeyword == "msgid_plural")
    {
        m_psField = &m_entry.sPrevIdPlural;
    }
    else
    {
        return Fail("#| holds only msgctxt, msgid and msgid_plural");
    }
    m_psField->clear();
    return true;
}

bool CPoReader::StartField(const std::string& sKeyword, int iIndex, bool fObsolete)
{
    bool fStartsEntry = sKeyword == "msgctxt" || sKeyword == "msgid";
    if (fStartsEntry && m_phase == kPhaseStr && !EndEntry())
        return false;
    if (fStartsEntry && m_phase == kPhaseNone)
    {
        m_entry.fObsolete = fObsolete;
        m_iEntryLine = m_iLine;
    }
    else if (m_entry.fObsolete != fObsolete)
    {
        return Fail("the entry mixes #~ lines with live lines");
    }
    if (sKeyword == "msgctxt")
    {
        if (m_phase != kPhaseNone)
            return Fail("msgctxt inside an entry, before its msgstr");
        m_entry.fHasContext = true;
        m_psField = &m_entry.sContext;
        m_phase = kPhaseContext;
        return true;
    }
    if (sKeyword == "msgid")
    {
        if (m_phase != kPhaseNone && m_phase != kPhaseContext)
            return Fail("msgid where a msgstr was expected");
        m_psField = &m_entry.sId;
        m_phase = kPhaseId;
        m_iIdLine = m_iLine;
        return true;
    }
    if (sKeyword == "msgid_plural")
    {
        if (m_phase != kPhaseId)
            return Fail("msgid_plural without a msgid before it");
        m_psField = &m_entry.sIdPlural;
        m_phase = kPhaseIdPlural;
        m_fPlural = true;
        return true;
    }
    // msgstr
    if (m_phase == kPhaseNone || m_phase == kPhaseContext)
        return Fail("msgstr without a msgid before it");
    if (iIndex < 0)
    {
        if (m_phase == kPhaseIdPlural)
            return Fail("msgstr after msgid_plural needs an index: msgstr[0]");
        if (m_phase == kPhaseStr)
            return Fail("a second msgstr in one entry");
    }
    else
    {
        if (m_phase == kPhaseId)
            return Fail("msgstr[" + std::to_string(iIndex) + "] without a msgid_plural");
        if (m_phase == kPhaseStr && !m_fPlural)
            return Fail("a second msgstr in one entry");
        if (static_cast<size_t>(iIndex) != m_entry.strs.size())
            return Fail("msgstr[" + std::to_string(iIndex) + "] where msgstr[" +
                        std::to_string(m_entry.strs.size()) + "] was expected");
    }
    if (m_phase != kPhaseStr)
        m_iStrLine = m_iLine;
    m_entry.strs.emplace_back();
    m_psField = &m_entry.strs.back();
    m_phase = kPhaseStr;
    return true;
}

bool CPoReader::ReadStrings(const char* p, const char* pEnd)
{
    for (;;)
    {
        while (p < pEnd && IsBlank(*p))
            p++;
        if (p == pEnd)
            return true;
        if (*p != '"')
            return Fail("unexpected text after a string");
        p++;
        for (;;)
        {
            if (p == pEnd)
                return Fail("the string has no closing quote");
            char ch = *p++;
            if (ch == '"')
                break;
            if (ch != '\\')
            {
                m_psField->push_back(ch);
                continue;
            }
            if (p == pEnd)
                return Fail("the string has no closing quote");
            char chEscape = *p++;
            switch (chEscape)
            {
            case 'n':
                m_psField->push_back('\n');
                continue;
            case 't':
                m_psField->push_back('\t');
                continue;
            case 'r':
                m_psField->push_back('\r');
                continue;
            case 'a':
                m_psField->push_back('\a');
                continue;
            case 'b':
                m_psField->push_back('\b');
                continue;
            case 'f':
                m_psField->push_back('\f');
                continue;
            case 'v':
                m_psField->push_back('\v');
                continue;
            case '"':
            case '\\':
                m_psField->push_back(chEscape);
                continue;
            default:
                break;
            }
            unsigned int uValue = 0;
            if (chEscape >= '0' && chEscape <= '7')
            {
                uValue = static_cast<unsigned int>(chEscape - '0');
                for (int i = 0; i < 2 && p < pEnd && *p >= '0' && *p <= '7'; i++)
                    uValue = uValue * 8 + static_cast<unsigned int>(*p++ - '0');
                if (uValue > 0xFF)
                    return Fail("the escape \\" + std::to_string(uValue) + " is larger than a byte");
            }
            else if (chEscape == 'x')
            {
                int iDigits = 0;
                for (; iDigits < 2 && p < pEnd && HexDigit(*p) >= 0; iDigits++)
                    uValue = uValue * 16 + static_cast<unsigned int>(HexDigit(*p++));
                if (iDigits == 0)
                    return Fail("\\x needs hexadecimal digits");
            }
            else
            {
                return Fail(std::string("invalid escape \\") + chEscape);
            }
            if (uValue == 0)
                return Fail("a string cannot hold a NUL character");
            m_psField->push_back(static_cast<char>(uValue));
        }
    }
}

bool CPoReader::EndEntry()
{
    const PoEntry& entry = m_entry;
    if (!IsUtf8(entry.sContext) || !IsUtf8(entry.sId) || !IsUtf8(entry.sIdPlural) ||
        !IsUtf8(entry.sPrevContext) || !IsUtf8(entry.sPrevId) || !IsUtf8(entry.sPrevIdPlural))
        return Fail(m_iEntryLine, "an escape makes the entry's text invalid UTF-8");
    for (const std::string& s : entry.strs)
    {
        if (!IsUtf8(s))
            return Fail(m_iStrLine, "an escape makes the msgstr invalid UTF-8");
    }
    auto inserted = m_firstLines.emplace(KeyOf(entry), m_iEntryLine);
    if (!inserted.second)
        return Fail(m_iEntryLine, "a second entry for this msgid (the first is at line " +
                                      std::to_string(inserted.first->second) + ")");
    if (!entry.fHasContext && entry.sId.empty() && !entry.fObsolete)
    {
        std::string sCharset = HeaderCharset(entry.strs.empty() ? std::string() : entry.strs[0]);
        if (!IsReadableCharset(sCharset))
            return Fail(m_iStrLine, "the header says charset=" + sCharset +
                                        "; only UTF-8 is read (msgconv --to-code=UTF-8 converts the file)");
    }
    m_entries.push_back(m_entry);
    Reset();
    return true;
}

bool CPoReader::Finish()
{
    if (m_phase == kPhaseStr)
        return EndEntry();
    if (m_phase == kPhaseContext)
        return Fail(m_iEntryLine, "msgctxt without a msgid and msgstr after it");
    if (m_phase == kPhaseId || m_phase == kPhaseIdPlural)
        return Fail(m_iIdLine, "msgid without a msgstr after it");
    return true;
}

void AppendEscaped(std::string& s, const std::string& sText, size_t iStart, size_t iEnd)
{
    static const char szOctal[] = "01234567";
    for (size_t i = iStart; i < iEnd; i++)
    {
        unsigned char b = static_cast<unsigned char>(sText[i]);
        switch (b)
        {
        case '\n':
            s += "\\n";
            break;
        case '\t':
            s += "\\t";
            break;
        case '\r':
            s += "\\r";
            break;
        case '\a':
            s += "\\a";
            break;
        case '\b':
            s += "\\b";
            break;
        case '\f':
            s += "\\f";
            break;
        case '\v':
            s += "\\v";
            break;
        case '"':
            s += "\\\"";
            break;
        case '\\':
            s += "\\\\";
            break;
        case 0:
            // No PO string can hold it; gettext would end the text here.
            break;
        default:
            if (b < 0x20 || b == 0x7F)
            {
                s += '\\';
                s += szOctal[(b >> 6) & 7];
                s += szOctal[(b >> 3) & 7];
                s += szOctal[b & 7];
            }
            else
            {
                s += static_cast<char>(b);
            }
            break;
        }
    }
}

// A text with a line break before its end goes on continuation lines, one per
// line of text, as gettext writes it, so translators' tools show it the same.
void AppendField(std::string& s, const char* szPrefix, const std::string& sKeyword, const std::string& sText)
{
    size_t iBreak = sText.find('\n');
    s += szPrefix;
    s += sKeyword;
    if (iBreak == std::string::npos || iBreak + 1 >= sText.size())
    {
        s += " \"";
        AppendEscaped(s, sText, 0, sText.size());
        s += "\"\n";
        return;
    }
    s += " \"\"\n";
    size_t iLine = 0;
    while (iLine < sText.size())
    {
        size_t iNext = sText.find('\n', iLine);
        iNext = iNext == std::string::npos ? sText.size() : iNext + 1;
        s += szPrefix;
        s += '"';
        AppendEscaped(s, sText, iLine, iNext);
        s += "\"\n";
        iLine = iNext;
    }
}

// A backslash before a line break joins the next line to a comment. One more
// backslash and an empty line to join keep a comment's own last backslash.
void EndCommentLine(std::string& s)
{
    s += s.back() == '\\' ? "\\\n\n" : "\n";
}

// A comment is one line; a line break inside one starts another comment.
void AppendComments(std::string& s, const char* szMark, const std::vector<std::string>& comments)
{
    for (const std::string& sComment : comments)
    {
        size_t iLine = 0;
        do
        {
            size_t iNext = sComment.find('\n', iLine);
            if (iNext == std::string::npos)
                iNext = sComment.size();
            s += szMark;
            if (iNext > iLine)
            {
                s += ' ';
                s.append(sComment, iLine, iNext - iLine);
            }
            EndCommentLine(s);
            iLine = iNext + 1;
        } while (iLine <= sComment.size());
    }
}

void AppendEntry(std::string& s, const PoEntry& entry)
{
    AppendComments(s, "#", entry.translatorComments);
    AppendComments(s, "#.", entry.extractedComments);
    if (!entry.references.empty())
    {
        s += "#:";
        for (const std::string& sRef : entry.references)
            (s += ' ') += sRef;
        EndCommentLine(s);
    }
    std::string sFlags;
    for (const std::string& sFlag : entry.flags)
    {
        if (sFlag.empty())
            continue;
        sFlags += sFlags.empty() ? "#, " : ", ";
        sFlags += sFlag;
    }
    if (!sFlags.empty())
    {
        s += sFlags;
        EndCommentLine(s);
    }
    const char* szPrevious = entry.fObsolete ? "#~| " : "#| ";
    if (entry.fHasPrevContext)
        AppendField(s, szPrevious, "msgctxt", entry.sPrevContext);
    if (entry.fHasPrevContext || !entry.sPrevId.empty() || !entry.sPrevIdPlural.empty())
        AppendField(s, szPrevious, "msgid", entry.sPrevId);
    if (!entry.sPrevIdPlural.empty())
        AppendField(s, szPrevious, "msgid_plural", entry.sPrevIdPlural);
    const char* szPrefix = entry.fObsolete ? "#~ " : "";
    if (entry.fHasContext)
        AppendField(s, szPrefix, "msgctxt", entry.sContext);
    AppendField(s, szPrefix, "msgid", entry.sId);
    if (entry.sIdPlural.empty() && entry.strs.size() <= 1)
    {
        AppendField(s, szPrefix, "msgstr", entry.strs.empty() ? std::string() : entry.strs[0]);
        return;
    }
    AppendField(s, szPrefix, "msgid_plural", entry.sIdPlural);
    if (entry.strs.empty())
        AppendField(s, szPrefix, "msgstr[0]", std::string());
    for (size_t i = 0; i < entry.strs.size(); i++)
        AppendField(s, szPrefix, "msgstr[" + std::to_string(i) + "]", entry.strs[i]);
}
} // namespace

bool PoEntry::HasFlag(const std::string& sFlag) const
{
    for (const std::string& s : flags)
    {
        if (s == sFlag)
            return true;
    }
    return false;
}

bool operator==(const PoEntry& a, const PoEntry& b)
{
    return a.translatorComments == b.translatorComments && a.extractedComments == b.extractedComments &&
           a.references == b.references && a.flags == b.flags && a.fHasContext == b.fHasContext &&
           a.sContext == b.sContext && a.sId == b.sId && a.sIdPlural == b.sIdPlural && a.strs == b.strs &&
           a.fObsolete == b.fObsolete && a.fHasPrevContext == b.fHasPrevContext &&
           a.sPrevContext == b.sPrevContext && a.sPrevId == b.sPrevId && a.sPrevIdPlural == b.sPrevIdPlural;
}

bool ReadPo(const std::string& sText, std::vector<PoEntry>& entries, std::string& sReason)
{
    entries.clear();
    sReason.clear();
    size_t i = 0;
    if (sText.compare(0, 3, "\xEF\xBB\xBF") == 0)
        i = 3;
    else if (sText.compare(0, 2, "\xFF\xFE") == 0 || sText.compare(0, 2, "\xFE\xFF") == 0)
    {
        sReason = "line 1: the file is UTF-16; PO files are read as UTF-8";
        return false;
    }
    CPoReader reader(entries, sReason);
    int iPhysical = 0;
    std::string sLine;
    while (i < sText.size())
    {
        // gettext drops a backslash before a line break wherever it stands,
        // in a string or a comment, so the next line continues this one.
        sLine.clear();
        int iFirst = iPhysical + 1;
        for (;;)
        {
            size_t iEnd = sText.find('\n', i);
            if (iEnd == std::string::npos)
                iEnd = sText.size();
            size_t iStop = iEnd;
            while (iStop > i && sText[iStop - 1] == '\r')
                iStop--;
            iPhysical++;
            bool fJoin = iStop > i && sText[iStop - 1] == '\\' && iEnd + 1 < sText.size();
            sLine.append(sText, i, iStop - i - (fJoin ? 1 : 0));
            i = iEnd + 1;
            if (!fJoin)
                break;
        }
        while (!sLine.empty() && sLine.back() == '\r')
            sLine.pop_back();
        reader.m_iLine = iFirst;
        if (!reader.ReadLine(sLine.data(), sLine.size()))
        {
            entries.clear();
            return false;
        }
    }
    reader.m_iLine = iPhysical + 1;
    if (!reader.Finish())
    {
        entries.clear();
        return false;
    }
    return true;
}

std::string WritePo(const std::vector<PoEntry>& entries)
{
    std::map<PoKey, size_t> owners;
    for (size_t i = 0; i < entries.size(); i++)
    {
        if (!entries[i].fObsolete)
            owners.emplace(KeyOf(entries[i]), i);
    }
    for (size_t i = 0; i < entries.size(); i++)
    {
        if (entries[i].fObsolete)
            owners.emplace(KeyOf(entries[i]), i);
    }
    std::string s;
    for (size_t i = 0; i < entries.size(); i++)
    {
        if (owners[KeyOf(entries[i])] != i)
            continue;
        if (!s.empty())
            s += '\n';
        AppendEntry(s, entries[i]);
    }
    return s;
}
