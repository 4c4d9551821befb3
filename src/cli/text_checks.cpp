#include "text_checks.h"

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

std::string FormatMismatch(const std::string& sSource, const std::string& sTranslation)
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
