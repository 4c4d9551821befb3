#include "layout/line_breaks.h"

namespace
{
enum BreakClass
{
    kAL, // letters and other symbols
    kBA, // break after
    kB2,
    kCL,
    kCP,
    kCR,
    kEX,
    kHY,
    kID, // ideographs
    kIN,
    kIS,
    kLF,
    kNS,
    kNU,
    kOP,
    kPO,
    kPR,
    kQU,
    kSP,
    kSY,
};

BreakClass AsciiClass(char16_t w)
{
    if (w >= u'0' && w <= u'9')
        return kNU;
    switch (w)
    {
    case u'\t':
    case u'|':
        return kBA;
    case u'\n':
        return kLF;
    case u'\r':
        return kCR;
    case u' ':
        return kSP;
    case u'!':
    case u'?':
        return kEX;
    case u'"':
    case u'\'':
        return kQU;
    case u'$':
    case u'+':
    case u'\\':
        return kPR;
    case u'%':
        return kPO;
    case u'(':
    case u'[':
    case u'{':
        return kOP;
    case u')':
    case u']':
        return kCP;
    case u'}':
        return kCL;
    case u',':
    case u'.':
    case u':':
    case u';':
        return kIS;
    case u'-':
        return kHY;
    case u'/':
        return kSY;
    default:
        return kAL;
    }
}

BreakClass ClassOf(char16_t w)
{
    if (w < 0x80)
        return AsciiClass(w);
    if (w == 0x2026 || w == 0x2025)
        return kIN;
    if (w == 0x2014)
        return kB2;
    if (w == 0x3000)
        return kBA;
    if (w == 0x3001 || w == 0x3002 || w == 0xFF0C || w == 0xFF0E || w == 0xFF61 || w == 0xFF64)
        return kCL;
    if (w == 0x3005 || w == 0x301C || w == 0xFF1A || w == 0xFF1B || w == 0x30FC)
        return kNS;
    if (w >= 0x3008 && w <= 0x3011)
        return (w & 1) == 0 ? kOP : kCL;
    if (w >= 0x3014 && w <= 0x301B)
        return (w & 1) == 0 ? kOP : kCL;
    if (w == 0x301D)
        return kOP;
    if (w == 0x301E || w == 0x301F)
        return kCL;
    if (w == 0xFF01 || w == 0xFF1F)
        return kEX;
    if (w == 0xFF04)
        return kPR;
    if (w == 0xFF05)
        return kPO;
    if (w == 0xFF08 || w == 0xFF3B || w == 0xFF5B || w == 0xFF5F || w == 0xFF62)
        return kOP;
    if (w == 0xFF09 || w == 0xFF3D || w == 0xFF5D || w == 0xFF60 || w == 0xFF63)
        return kCL;
    if ((w >= 0x2E80 && w <= 0x9FFF) || (w >= 0xF900 && w <= 0xFAFF) || (w >= 0xFF00 && w <= 0xFFEF))
        return kID;
    return kAL;
}

// What is decided before each character: nothing yet, a break is not
// allowed, or it is.
enum Decision
{
    kOpen,
    kNoBreak,
    kBreak
};

class CBreaks
{
  public:
    explicit CBreaks(const std::u16string& ws) : m_classes(ws.size()), m_before(ws.size(), kOpen)
    {
        for (size_t i = 0; i < ws.size(); ++i)
            m_classes[i] = ClassOf(ws[i]);
    }
    std::vector<bool> Soft();

  private:
    // The first rule that decides a position holds.
    void Decide(size_t i, Decision decision)
    {
        if (i < m_before.size() && m_before[i] == kOpen)
            m_before[i] = decision;
    }
    BreakClass At(size_t i) const { return m_classes[i]; }
    bool Pair(size_t i, BreakClass a, BreakClass b) const
    {
        return i + 1 < m_classes.size() && m_classes[i] == a && m_classes[i + 1] == b;
    }
    void Mandatory();
    void Closing();
    void Spaces();
    void Pairs(size_t i);

    std::vector<BreakClass> m_classes;
    std::vector<Decision> m_before;
};

// Line feeds and returns end lines; no break before a space.
void CBreaks::Mandatory()
{
    Decide(0, kNoBreak);
    for (size_t i = 0; i < m_classes.size(); ++i)
        switch (At(i))
        {
        case kCR:
            if (i + 1 < m_classes.size() && At(i + 1) == kLF)
            {
                Decide(i, kNoBreak);
                Decide(i + 1, kNoBreak);
                break;
            }
            [[fallthrough]];
        case kLF:
            Decide(i + 1, kBreak);
            Decide(i, kNoBreak);
            break;
        case kSP:
            Decide(i, kNoBreak);
            break;
        default:
            break;
        }
}

// No break before closing punctuation, after opening punctuation (and the
// spaces behind it), between a quote and an opening, before a non-starter
// that follows a closing, between two em dashes.
void CBreaks::Closing()
{
    const size_t n = m_classes.size();
    for (size_t i = 0; i < n; ++i)
        switch (At(i))
        {
        case kCL:
        case kCP:
        case kEX:
        case kIS:
        case kSY:
            Decide(i, kNoBreak);
            break;
        case kOP:
            while (i + 1 < n && At(i + 1) == kSP)
                Decide(++i, kNoBreak);
            Decide(i + 1, kNoBreak);
            break;
        case kQU: {
            size_t j = i + 1;
            while (j + 1 < n && At(j) == kSP)
                ++j;
            if (j < n && At(j) == kOP)
                for (; j > i; --j)
                    Decide(j, kNoBreak);
            break;
        }
        case kNS:
            if (i > 0)
            {
                size_t j = i - 1;
                while (j > 0 && At(j) == kSP)
                    --j;
                if (At(j) == kCL || At(j) == kCP)
                    for (++j; j <= i; ++j)
                        Decide(j, kNoBreak);
            }
            break;
        case kB2: {
            size_t j = i + 1;
            while (j < n && At(j) == kSP)
                ++j;
            if (j < n && At(j) == kB2)
                for (; j > i; --j)
                    Decide(j, kNoBreak);
            break;
        }
        default:
            break;
        }
}

// A break after spaces; none around quotes, before hyphens and other
// break-after characters and non-starters, inside a run of ellipses.
void CBreaks::Spaces()
{
    const size_t n = m_classes.size();
    for (size_t i = 0; i < n; ++i)
    {
        switch (At(i))
        {
        case kSP:
            Decide(i + 1, kBreak);
            break;
        case kQU:
            Decide(i, kNoBreak);
            Decide(i + 1, kNoBreak);
            break;
        case kBA:
        case kHY:
        case kNS:
            Decide(i, kNoBreak);
            break;
        case kIN:
            if (i > 0 && (At(i - 1) == kAL || At(i - 1) == kID || At(i - 1) == kIN || At(i - 1) == kNU))
                Decide(i, kNoBreak);
            break;
        default:
            break;
        }
        Pairs(i);
    }
}

// Numbers with their prefixes and postfixes, words, and a word before an
// opening parenthesis stay together.
void CBreaks::Pairs(size_t i)
{
    static const BreakClass kTogether[][2] = {
        {kID, kPO}, {kAL, kNU}, {kNU, kAL}, // ideograph and postfix, numbers in words
        {kPR, kID}, {kPR, kAL}, {kPO, kAL}, // prefixes and postfixes of words
        {kCL, kPO}, {kCP, kPO}, {kCL, kPR}, {kCP, kPR}, {kNU, kPO}, {kNU, kPR}, // numbers
        {kPO, kOP}, {kPO, kNU}, {kPR, kOP}, {kPR, kNU}, {kHY, kNU}, {kIS, kNU},
        {kNU, kNU}, {kSY, kNU}, {kAL, kAL}, {kIS, kAL}, // words
        {kAL, kOP}, {kNU, kOP}, {kCP, kAL}, {kCP, kNU}, // a word and its parentheses
    };
    for (const BreakClass* pair : kTogether)
        if (Pair(i, pair[0], pair[1]))
            Decide(i + 1, kNoBreak);
}

std::vector<bool> CBreaks::Soft()
{
    Mandatory();
    Closing();
    Spaces();
    std::vector<bool> soft(m_before.size());
    for (size_t i = 0; i < m_before.size(); ++i)
        soft[i] = m_before[i] != kNoBreak;
    return soft;
}
} // namespace

std::vector<bool> SoftBreaks(const std::u16string& ws)
{
    return CBreaks(ws).Soft();
}
