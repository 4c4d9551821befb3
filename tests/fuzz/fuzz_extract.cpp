// extract's rule set read back as the patch run reads it: every text FindTexts
// keeps is written by RuleSetFileText, and each rule, read with the run's own
// reads (the wide one for UTF-16, the ANSI one for ANSI) and decoded, must give
// exactly the bytes of its text; the list must end after the last rule.
//
// Input: the first byte picks the shortest text (1 to 8 characters); the
// lowest bits of the first and last bytes, when they differ, put resource
// texts into the set (with their comment lines); bit 1 of the last byte keeps
// the resource texts of en-US only; all bytes are the view, a PE image or not
// (a file that is none is scanned whole).
#include "port/native_path.h"
#include "rules/escape.h"
#include "rules/rule_set.h"
#include "scan/extract_texts.h"
#include "util/path.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace
{
const size_t kMaxView = 1 << 16;
const int kAnsiPathBytes = 360;

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

std::string g_dir;

void RemoveDir()
{
    rmdir(g_dir.c_str());
}

// A new file name each time, so the profile store never takes one version of
// a set for another.
std::string NextRuleFile()
{
    static unsigned s_count = 0;
    if (g_dir.empty())
    {
        char szDir[] = "/tmp/fuzz_extract-XXXXXX";
        Check(mkdtemp(szDir) != nullptr);
        g_dir = szDir;
        std::atexit(RemoveDir);
    }
    return g_dir + "/set" + std::to_string(++s_count) + ".ini";
}

bool Decodes(PatchRule& rule, const Candidate& text)
{
    if (rule.unicode != text.unicode)
        return false;
    if (text.unicode)
    {
        UINT len = UnescapeTextW(rule.wsEn);
        return len * 2 == text.bytes.size() && std::memcmp(rule.wsEn, text.bytes.data(), len * 2) == 0;
    }
    char* szEn = reinterpret_cast<char*>(rule.wsEn);
    UINT cb = UnescapeTextA(szEn);
    return cb == text.bytes.size() && std::memcmp(szEn, text.bytes.data(), cb) == 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > kMaxView)
        return 0;
    BYTE* pView = new BYTE[size];
    std::memcpy(pView, data, size);
    CImageMap image;
    image.Load(pView, static_cast<DWORD>(size));
    std::vector<Candidate> texts;
    UINT uTooLong = 0;
    const std::string sLang = (data[size - 1] & 2) != 0 ? "en-US" : "";
    FindTexts(
        pView, static_cast<DWORD>(size), image, {std::string(), true, 1u + data[0] % 8u, sLang},
        [](unsigned long long, unsigned long long, const char*) {}, texts, uTooLong);
    delete[] pView;
    for (const Candidate& c : texts)
        Check(c.dwOffset <= size && c.bytes.size() <= size - c.dwOffset &&
              std::memcmp(c.bytes.data(), data + c.dwOffset, c.bytes.size()) == 0);
    texts = RuleSetTexts(texts, ((data[0] ^ data[size - 1]) & 1) != 0);
    if (texts.empty())
        return 0;

    const std::string sFile = NextRuleFile();
    const std::string bytes = RuleSetFileText(WString(W("target.exe")), texts);
    FILE* pFile = std::fopen(sFile.c_str(), "wb");
    Check(pFile != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size());
    std::fclose(pFile);
    const std::u16string wsFile = Utf8ToUtf16(sFile);
    char szFile[kAnsiPathBytes];
    Check(GetExactAnsiPath(wsFile.c_str(), szFile, kAnsiPathBytes));
    PatchRule* pRule = new PatchRule;
    for (UINT n = 1; n <= texts.size(); ++n)
    {
        Check(ReadRuleAsRun(wsFile.c_str(), szFile, n, *pRule));
        Check(Decodes(*pRule, texts[n - 1]));
    }
    Check(!ReadRuleAsRun(wsFile.c_str(), szFile, static_cast<UINT>(texts.size()) + 1, *pRule));
    delete pRule;
    std::remove(sFile.c_str());
    return 0;
}
