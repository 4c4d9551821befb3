#include "po/text_checks.h"

#include "util/wstring.h"

#include <cctype>
#include <cstring>
#include <map>

namespace
{
enum FormatKind
{
    kFormatPrintf,
    kFormatInsert, // FormatMessage's numbered %1 .. %99
    kFormatCode    // FormatMessage's %0 %n %t %r
};

struct FormatToken
{
    FormatKind kind;
    std::string sText;
    int iNumber;            // printf: the argument position ("%2$d") or 0; insert: its number
    std::string sSignature; // what the argument must be: printf stars, length and conversion; insert format
};

bool IsDigit(char ch)
{
    return ch >= '0' && ch <= '9';
}

// The end of a printf conversion starting at the '%' at i, or 0 when none does.
size_t ParsePrintf(const std::string& s, size_t i, FormatToken& token)
{
    size_t j = i + 1;
    token.iNumber = 0;
    size_t k = j;
    int iPosition = 0;
    while (k < s.size() && IsDigit(s[k]) && iPosition < 1000)
        iPosition = iPosition * 10 + (s[k++] - '0');
    if (k > j && k < s.size() && s[k] == '$' && s[j] != '0')
    {
        token.iNumber = iPosition;
        j = k + 1;
    }
    std::string sStars;
    while (j < s.size() && std::strchr("-+#0'", s[j]) != nullptr)
        j++;
    if (j < s.size() && s[j] == '*')
    {
        sStars += '*';
        j++;
    }
    else
    {
        while (j < s.size() && IsDigit(s[j]))
            j++;
    }
    if (j < s.size() && s[j] == '.')
    {
        j++;
        if (j < s.size() && s[j] == '*')
        {
            sStars += '*';
            j++;
        }
        else
        {
            while (j < s.size() && IsDigit(s[j]))
                j++;
        }
    }
    static const char* const rgszLength[] = {"I64", "I32", "hh", "ll", "h", "l", "L",
                                             "q",   "j",   "z",  "t",  "w", "I"};
    std::string sLength;
    for (const char* szLength : rgszLength)
    {
        if (s.compare(j, std::strlen(szLength), szLength) == 0)
        {
            sLength = szLength;
            j += sLength.size();
            break;
        }
    }
    if (j >= s.size() || std::strchr("diouxXeEfFgGaAcCsSp", s[j]) == nullptr)
        return 0;
    char chConversion = s[j];
    // Conversions that read the same argument the same way.
    if (chConversion == 'i')
        chConversion = 'd';
    else if (std::strchr("XEFGA", chConversion) != nullptr)
        chConversion = static_cast<char>(chConversion + ('a' - 'A'));
    token.kind = kFormatPrintf;
    token.sSignature = sStars + sLength + chConversion;
    token.sText = s.substr(i, j + 1 - i);
    return j + 1;
}

std::vector<FormatToken> FormatTokens(const std::string& s)
{
    std::vector<FormatToken> tokens;
    size_t i = 0;
    while (i < s.size())
    {
        if (s[i] != '%')
        {
            i++;
            continue;
        }
        if (i + 1 >= s.size())
            break;
        char ch = s[i + 1];
        if (ch == '%')
        {
            i += 2;
            continue;
        }
        FormatToken token;
        size_t iEnd = ParsePrintf(s, i, token);
        if (iEnd == 0 && ch >= '1' && ch <= '9')
        {
            token.kind = kFormatInsert;
            token.iNumber = ch - '0';
            iEnd = i + 2;
            if (iEnd < s.size() && IsDigit(s[iEnd]))
                token.iNumber = token.iNumber * 10 + (s[iEnd++] - '0');
            token.sSignature = "s";
            if (iEnd < s.size() && s[iEnd] == '!')
            {
                size_t iClose = s.find('!', iEnd + 1);
                if (iClose != std::string::npos)
                {
                    token.sSignature = s.substr(iEnd + 1, iClose - iEnd - 1);
                    iEnd = iClose + 1;
                }
            }
            token.sText = s.substr(i, iEnd - i);
        }
        else if (iEnd == 0 && (ch == '0' || ch == 'n' || ch == 't' || ch == 'r'))
        {
            token.kind = kFormatCode;
            token.iNumber = 0;
            token.sText = s.substr(i, 2);
            iEnd = i + 2;
        }
        if (iEnd == 0)
        {
            i++;
            continue;
        }
        tokens.push_back(token);
        i = iEnd;
    }
    return tokens;
}

// printf arguments by position: numbered ones where they say, the others in order.
std::map<int, const FormatToken*> PrintfArguments(const std::vector<FormatToken>& tokens)
{
    std::map<int, const FormatToken*> arguments;
    int iNext = 1;
    for (const FormatToken& token : tokens)
    {
        if (token.kind != kFormatPrintf)
            continue;
        int iPosition = token.iNumber != 0 ? token.iNumber : iNext++;
        arguments.emplace(iPosition, &token);
    }
    return arguments;
}

std::map<int, const FormatToken*> Inserts(const std::vector<FormatToken>& tokens)
{
    std::map<int, const FormatToken*> inserts;
    for (const FormatToken& token : tokens)
    {
        if (token.kind == kFormatInsert)
            inserts.emplace(token.iNumber, &token);
    }
    return inserts;
}

// Both maps' arguments agree, or the reason they do not.
std::string CompareArguments(const std::map<int, const FormatToken*>& source,
                             const std::map<int, const FormatToken*>& translation)
{
    for (const auto& argument : source)
    {
        auto found = translation.find(argument.first);
        if (found == translation.end())
            return "the source's " + argument.second->sText + " is missing";
        if (found->second->sSignature != argument.second->sSignature)
            return "the translation has " + found->second->sText + " where the source has " +
                   argument.second->sText;
    }
    for (const auto& argument : translation)
    {
        if (source.find(argument.first) == source.end())
            return "the translation has " + argument.second->sText + ", which the source lacks";
    }
    return std::string();
}

size_t CountOf(const std::string& s, const char* szPart)
{
    size_t c = 0;
    for (size_t i = s.find(szPart); i != std::string::npos; i = s.find(szPart, i + std::strlen(szPart)))
        ++c;
    return c;
}

// The code point of the UTF-8 sequence at i, which the PO reader has checked.
unsigned CodePointAt(const std::string& s, size_t& i)
{
    unsigned char b = static_cast<unsigned char>(s[i++]);
    if (b < 0x80)
        return b;
    size_t cTrail = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    unsigned cp = b & (0x3F >> cTrail);
    for (; cTrail > 0 && i < s.size(); --cTrail)
        cp = cp << 6 | (static_cast<unsigned char>(s[i++]) & 0x3F);
    return cp;
}

// Letters of the scripts whose words a translation replaces; capitals of
// ASCII are apart, since an all-caps token is a name.
bool IsWordLetter(unsigned cp)
{
    return (cp >= 'a' && cp <= 'z') || (cp >= 0xC0 && cp <= 0x24F && cp != 0xD7 && cp != 0xF7) ||
           (cp >= 0x370 && cp <= 0x52F) || (cp >= 0x3040 && cp <= 0x9FFF) || (cp >= 0xAC00 && cp <= 0xD7AF);
}

bool WordNeedsTranslation(const std::string& sWord)
{
    // Names that every language writes the same way.
    static const char* const rgszNames[] = {"Unicode", "Windows", "Microsoft", "Wine"};
    for (const char* szName : rgszNames)
        if (sWord == szName)
            return false;
    if (sWord[0] == '*' || sWord.find_first_of("0123456789") != std::string::npos)
        return false;
    // "notepad.exe", ".txt"; not the dots of "Open..." or of a sentence's end.
    for (size_t i = sWord.find('.'); i != std::string::npos && i + 1 < sWord.size();
         i = sWord.find('.', i + 1))
        if (std::isalnum(static_cast<unsigned char>(sWord[i + 1])))
            return false;
    // A lone Latin letter is a code or a key ("&f" in a page header), no word.
    size_t cLatin = 0;
    bool fLetter = false;
    for (size_t i = 0; i < sWord.size();)
    {
        unsigned cp = CodePointAt(sWord, i);
        bool fWordLetter = IsWordLetter(cp);
        fLetter = fLetter || fWordLetter;
        if (cp < 0x370 && (fWordLetter || (cp >= 'A' && cp <= 'Z')))
            ++cLatin;
        else if (fWordLetter)
            return true;
    }
    return fLetter && cLatin > 1;
}

// Whether code page uCodePage holds the units exactly: a round trip gives
// them back, so neither the default character nor a best fit stood in.
bool CodePageHolds(const WCHAR* ws, int cch, UINT uCodePage)
{
    char szBytes[16];
    BOOL fUsedDefault = FALSE;
    int cb = WideCharToMultiByte(uCodePage, WC_NO_BEST_FIT_CHARS, ws, cch, szBytes, sizeof(szBytes), nullptr,
                                 &fUsedDefault);
    // Some code pages (GB18030, the ISO-2022 ones) take no flags.
    if (cb <= 0)
        cb = WideCharToMultiByte(uCodePage, 0, ws, cch, szBytes, sizeof(szBytes), nullptr, &fUsedDefault);
    if (cb <= 0 || fUsedDefault)
        return false;
    WCHAR wsBack[8];
    int cchBack = MultiByteToWideChar(uCodePage, 0, szBytes, cb, wsBack, 8);
    return cchBack == cch && std::char_traits<WCHAR>::compare(ws, wsBack, cch) == 0;
}

bool HasCode(const std::vector<FormatToken>& tokens, const char* szCode)
{
    for (const FormatToken& token : tokens)
    {
        if (token.kind == kFormatCode && token.sText == szCode)
            return true;
    }
    return false;
}
} // namespace

std::string AcceleratorKey(const std::string& sUtf8)
{
    for (size_t i = 0; i + 1 < sUtf8.size(); i++)
    {
        if (sUtf8[i] != '&')
            continue;
        if (sUtf8[i + 1] == '&')
        {
            i++;
            continue;
        }
        unsigned char bLead = static_cast<unsigned char>(sUtf8[i + 1]);
        size_t cb = bLead < 0x80 ? 1 : (bLead & 0xE0) == 0xC0 ? 2 : (bLead & 0xF0) == 0xE0 ? 3 : 4;
        std::string sKey = sUtf8.substr(i + 1, cb);
        // "A & B": an ampersand before a blank gives no key a user can press.
        if (sKey == " " || sKey == "\t")
            return std::string();
        if (sKey.size() == 1 && sKey[0] >= 'a' && sKey[0] <= 'z')
            sKey[0] = static_cast<char>(sKey[0] - ('a' - 'A'));
        return sKey;
    }
    return std::string();
}

std::vector<std::string> FormatSpecifiers(const std::string& sUtf8)
{
    std::vector<std::string> specifiers;
    for (const FormatToken& token : FormatTokens(sUtf8))
        specifiers.push_back(token.sText);
    return specifiers;
}

namespace
{
// The reason the translation's specifiers differ from the source's; "" when they agree.
std::string FormatDifference(const std::string& sSource, const std::string& sTranslation)
{
    std::vector<FormatToken> sourceTokens = FormatTokens(sSource);
    std::vector<FormatToken> translationTokens = FormatTokens(sTranslation);
    std::string sReason = CompareArguments(PrintfArguments(sourceTokens), PrintfArguments(translationTokens));
    if (sReason.empty())
        sReason = CompareArguments(Inserts(sourceTokens), Inserts(translationTokens));
    if (!sReason.empty())
        return sReason;
    bool fSourceEnd = HasCode(sourceTokens, "%0");
    if (fSourceEnd != HasCode(translationTokens, "%0"))
        return fSourceEnd ? "the source's %0 is missing" : "the translation has %0, which the source lacks";
    size_t iSourceTab = sSource.find('\t');
    if (iSourceTab == std::string::npos)
        return std::string();
    std::string sShortcut = sSource.substr(iSourceTab + 1);
    size_t iTab = sTranslation.find('\t');
    if (iTab == std::string::npos)
        return "the translation has no tab before the shortcut \"" + sShortcut + "\"";
    std::string sTranslated = sTranslation.substr(iTab + 1);
    if (sTranslated != sShortcut)
        return "the shortcut after the tab is \"" + sTranslated + "\" where the source has \"" + sShortcut +
               "\"";
    return std::string();
}

std::string LineBreakDifference(const std::string& sSource, const std::string& sTranslation)
{
    static const struct
    {
        const char* szEscape;
        char ch;
        const char* szName;
    } rgEscapes[] = {
        {"\\n", '\n', "a line break"}, {"\\r", '\r', "a carriage return"}, {"\\t", '\t', "a tab"}};
    for (const auto& escape : rgEscapes)
    {
        if (CountOf(sTranslation, escape.szEscape) <= CountOf(sSource, escape.szEscape))
            continue;
        return std::string("the translation has the two characters ") + escape.szEscape +
               (sSource.find(escape.ch) != std::string::npos
                    ? std::string(" where the source has ") + escape.szName
                    : std::string(", which the source lacks"));
    }
    size_t cSource = CountOf(sSource, "\n"), cTranslation = CountOf(sTranslation, "\n");
    if (cSource == cTranslation)
        return std::string();
    return "the translation has " + std::to_string(cTranslation) + " line break" +
           (cTranslation == 1 ? "" : "s") + " where the source has " + std::to_string(cSource);
}

} // namespace

bool FormatsAgree(const std::string& sSource, const std::string& sTranslation, std::string& sReason)
{
    sReason = FormatDifference(sSource, sTranslation);
    return sReason.empty();
}

bool LineBreaksAgree(const std::string& sSource, const std::string& sTranslation, std::string& sReason)
{
    sReason = LineBreakDifference(sSource, sTranslation);
    return sReason.empty();
}

bool NeedsTranslation(const std::string& sUtf8)
{
    std::string s = sUtf8.substr(0, sUtf8.find('\t'));
    size_t iFrom = 0;
    for (const FormatToken& token : FormatTokens(s))
    {
        size_t at = s.find(token.sText, iFrom);
        if (at == std::string::npos)
            continue;
        s.replace(at, token.sText.size(), " ");
        iFrom = at + 1;
    }
    // Paths, addresses and mail names stay as they are; "Time/Date" is two words.
    for (size_t iStart = 0; iStart < s.size();)
    {
        size_t iEnd = s.find_first_of(" \r\n", iStart);
        if (iEnd == std::string::npos)
            iEnd = s.size();
        std::string sToken = s.substr(iStart, iEnd - iStart);
        if (sToken.find("://") != std::string::npos || sToken.find_first_of("\\@") != std::string::npos)
            s.replace(iStart, iEnd - iStart, iEnd - iStart, ' ');
        iStart = iEnd + 1;
    }
    std::string sWord;
    for (size_t i = 0; i <= s.size(); ++i)
    {
        char ch = i < s.size() ? s[i] : ' ';
        if (ch == '&')
            continue;
        if (std::strchr(" \r\n()[]{},;!?\"<>|=+/", ch) == nullptr)
        {
            sWord += ch;
            continue;
        }
        if (!sWord.empty() && WordNeedsTranslation(sWord))
            return true;
        sWord.clear();
    }
    return false;
}

bool KnowsCodePage(UINT uCodePage)
{
    if (uCodePage == CP_UTF8 || uCodePage == CP_UTF7)
        return true;
#ifdef _WIN32
    return IsValidCodePage(uCodePage) != FALSE;
#else
    return uCodePage == GetACP();
#endif
}

std::string CodePageLacks(const std::string& sUtf8, UINT uCodePage)
{
    if (uCodePage == CP_UTF8 || uCodePage == CP_UTF7)
        return std::string();
    WString ws = FromUtf8(sUtf8);
    std::string sLacks;
    for (size_t i = 0; i < ws.size();)
    {
        int cch = ws[i] >= 0xD800 && ws[i] <= 0xDBFF && i + 1 < ws.size() ? 2 : 1;
        if (!CodePageHolds(&ws[i], cch, uCodePage))
        {
            std::string sChar = ToUtf8(&ws[i], cch);
            if (sLacks.find(sChar) == std::string::npos)
                sLacks += sChar;
        }
        i += cch;
    }
    return sLacks;
}
