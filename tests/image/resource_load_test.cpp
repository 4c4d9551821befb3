// Images whose resources were translated and rebuilt, opened by the Windows
// loader (Wine's): the texts a program shows through LoadStringW, LoadMenuW,
// CreateDialogParamW and the version functions must be the translations, every
// text left alone must be the original, and the code beside the resources must
// still run. The fixtures are fixtures/ui.rc in a 32-bit and a 64-bit DLL, each
// with .rsrc before another section (whose raw data moves when the rebuilt
// tree takes more or fewer file pages) and as the last section.
#include "image/image_rebuild.h"
#include "image/resource_texts.h"
#include "image/resource_tree.h"
#include "support/image_reads.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace
{
typedef std::basic_string<WCHAR> WString;

enum UiKind
{
    kMenu,
    kDialog,
    kString,
    kVersion
};

// One text of fixtures/ui.rc and where a program finds it: for a menu, the
// positions from the menu bar down; for a dialog, the control id (none for the
// caption). Every source text occurs once in the fixture. The translations are
// longer and shorter than their sources and change the parity of some lengths:
// dialog controls and MENUEX items are aligned behind their texts.
struct UiText
{
    UiKind kind;
    WORD wId;
    std::vector<UINT> at;
    const char* szSource;
    const char* szTranslation;            // nullptr: left untranslated
    const WCHAR* wszVersionKey = nullptr; // kVersion only
};

const UiText kTexts[] = {
    {kMenu, 1, {0}, "&File", "文件(&F)"},
    {kMenu, 1, {0, 0}, "&Open...\tCtrl+O", "打开(&O)...\tCtrl+O"},
    {kMenu, 1, {0, 1}, "&Recent files", "最近(&R)"},
    {kMenu, 1, {0, 1, 0}, "&Clear list", nullptr},
    {kMenu, 1, {0, 3}, "E&xit", "退出(&X)"},
    {kMenu, 1, {1}, "&Edit", "编辑(&E)"},
    {kMenu, 1, {1, 0}, "&Undo", "撤销上一次的操作(&U)"},
    {kMenu, 1, {1, 1}, "Select &all", nullptr},
    {kMenu, 2, {0}, "&View", "查看(&V)"},
    {kMenu, 2, {0, 0}, "&Status bar", "状态栏(&S)"},
    {kMenu, 2, {0, 1}, "&Zoom", nullptr},
    {kMenu, 2, {0, 1, 0}, "Zoom &in", "放大(&I)"},
    {kDialog, 101, {}, "Find", "查找"},
    {kDialog, 101, {10}, "Fi&nd what:", "查找内容(&N):"},
    {kDialog, 101, {IDOK}, "Find &next", "下一个(&N)"},
    {kDialog, 101, {IDCANCEL}, "Cancel", nullptr},
    {kDialog, 102, {}, "About the sample program", "关于"},
    {kDialog, 102, {21}, "A small program that carries texts in every kind of resource.", "一个小程序。"},
    {kDialog, 102, {IDOK}, "OK", "确定"},
    {kString, 0x0061, {}, "Ready", "就绪。这条译文比原文长得多，它所在的字符串块在重建后必须整体后移。"},
    {kString, 0x0062, {}, "The document has been changed since it was last saved.", "文档已更改。"},
    {kString, 0x0070, {}, "Line %1, column %2", nullptr},
    {kString, 0x0071, {}, "Insert", "插入"},
    {kVersion, 1, {}, "Sample Company", nullptr, W("CompanyName")},
    {kVersion, 1, {}, "Sample texts", "示例程序的界面文字，已译成中文", W("FileDescription")},
    {kVersion, 1, {}, "Sample", "示例", W("ProductName")},
};

const WORD kEnUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const WORD kZhCn = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
const WString kMissing = W("(not found)");

struct Fixture
{
    const char* szPath;
    bool f64;
};
const Fixture kFixtures[] = {{PIVRA_UI_DLL32, false},
                             {PIVRA_UI_DLL32_LAST, false},
                             {PIVRA_UI_DLL64, true},
                             {PIVRA_UI_DLL64_LAST, true}};

WString Wide(const char* szUtf8)
{
    WCHAR wsz[512];
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, szUtf8, -1, wsz, 512);
    return n > 0 ? WString(wsz, n - 1) : kMissing;
}

// The fixtures' paths are Unix paths, which Wine shows on drive Z:.
std::vector<BYTE> ReadFixture(const char* szUnix)
{
    std::ifstream file(std::string("Z:") + szUnix, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const bool kProcess64 = sizeof(void*) == 8;

// How a program opens another module's resources. Wine maps an image of the
// other bitness only as a flat data file: a 32-bit process gets
// ERROR_BAD_EXE_FORMAT for a 64-bit image resource.
DWORD DataFileFlags(bool f64)
{
    return f64 == kProcess64 ? LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE
                             : LOAD_LIBRARY_AS_DATAFILE;
}

// An image written to a temporary file and loaded with LoadLibraryExW's flags;
// both are gone at the end of the scope.
class LoadedImage
{
  public:
    LoadedImage(const std::vector<BYTE>& image, DWORD dwFlags)
    {
        // A name of its own for every image of the run: a name used again
        // within one clock tick could reach a mapping of the image before.
        static UINT s_uNext = GetCurrentProcessId() << 7;
        WCHAR wszDir[MAX_PATH], wszPath[MAX_PATH];
        if (GetTempPathW(MAX_PATH, wszDir) == 0 ||
            GetTempFileNameW(wszDir, W("prl"), ++s_uNext, wszPath) == 0)
            return;
        m_path = wszPath;
        HANDLE hFile = CreateFileW(wszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
            return;
        DWORD dwWritten = 0;
        BOOL fWritten = WriteFile(hFile, image.data(), static_cast<DWORD>(image.size()), &dwWritten, nullptr);
        CloseHandle(hFile);
        if (!fWritten || dwWritten != image.size())
            return;
        m_hModule = LoadLibraryExW(wszPath, nullptr, dwFlags);
    }
    ~LoadedImage()
    {
        if (m_hModule != nullptr)
            FreeLibrary(m_hModule);
        if (!m_path.empty())
            DeleteFileW(m_path.c_str());
    }
    LoadedImage(const LoadedImage&) = delete;
    LoadedImage& operator=(const LoadedImage&) = delete;

    HMODULE Module() const { return m_hModule; }
    const WString& Path() const { return m_path; }

  private:
    WString m_path;
    HMODULE m_hModule = nullptr;
};

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

WString MenuText(HMENU hMenu, const std::vector<UINT>& at)
{
    for (size_t i = 0; i + 1 < at.size() && hMenu != nullptr; ++i)
        hMenu = GetSubMenu(hMenu, static_cast<int>(at[i]));
    WCHAR wsz[512];
    if (hMenu == nullptr || GetMenuStringW(hMenu, at.back(), wsz, 512, MF_BYPOSITION) == 0)
        return kMissing;
    return wsz;
}

WString DialogText(HWND hDlg, const std::vector<UINT>& at)
{
    HWND hWnd = hDlg == nullptr || at.empty() ? hDlg : GetDlgItem(hDlg, static_cast<int>(at[0]));
    WCHAR wsz[512] = {0};
    if (hWnd == nullptr)
        return kMissing;
    GetWindowTextW(hWnd, wsz, 512);
    return wsz;
}

// String n of a string-table block: sixteen counted strings.
WString BlockString(const void* pData, DWORD dwSize, UINT n)
{
    const WCHAR* pUnits = static_cast<const WCHAR*>(pData);
    size_t cUnits = dwSize / sizeof(WCHAR), i = 0;
    for (; i < cUnits && n > 0; --n)
        i += 1 + pUnits[i];
    if (i >= cUnits || pUnits[i] > cUnits - i - 1)
        return kMissing;
    return WString(pUnits + i + 1, pUnits[i]);
}

WString VersionText(std::vector<BYTE>& info, const WCHAR* wszKey)
{
    WString query = WString(W("\\StringFileInfo\\040904B0\\")) + wszKey;
    void* pValue = nullptr;
    UINT uUnits = 0;
    if (info.empty() || !VerQueryValueW(info.data(), query.c_str(), &pValue, &uUnits) || pValue == nullptr)
        return kMissing;
    return static_cast<const WCHAR*>(pValue);
}

// The text as a program shows it. wLang 0: through the functions that pick the
// resource themselves (LoadStringW, LoadMenuW, CreateDialogParamW,
// GetFileVersionInfoW); otherwise the copy in that language, through
// FindResourceExW and the functions that take the resource's data.
WString ShownText(const LoadedImage& loaded, const UiText& text, WORD wLang)
{
    HMODULE hModule = loaded.Module();
    if (hModule == nullptr)
        return kMissing;
    const void* pData = nullptr;
    DWORD dwSize = 0;
    if (wLang != 0)
    {
        static const LPCWSTR kTypes[] = {RT_MENU, RT_DIALOG, RT_STRING, RT_VERSION};
        WORD wName = text.kind == kString ? static_cast<WORD>(text.wId / 16 + 1) : text.wId;
        HRSRC hResource = FindResourceExW(hModule, kTypes[text.kind], MAKEINTRESOURCEW(wName), wLang);
        HGLOBAL hData = hResource != nullptr ? LoadResource(hModule, hResource) : nullptr;
        pData = hData != nullptr ? LockResource(hData) : nullptr;
        if (pData == nullptr)
            return kMissing;
        dwSize = SizeofResource(hModule, hResource);
    }
    switch (text.kind)
    {
    case kMenu: {
        HMENU hMenu = wLang == 0 ? LoadMenuW(hModule, MAKEINTRESOURCEW(text.wId)) : LoadMenuIndirectW(pData);
        WString ws = MenuText(hMenu, text.at);
        if (hMenu != nullptr)
            DestroyMenu(hMenu);
        return ws;
    }
    case kDialog: {
        // The templates have no WS_VISIBLE: the dialogs stay hidden.
        HWND hDlg = wLang == 0
                        ? CreateDialogParamW(hModule, MAKEINTRESOURCEW(text.wId), nullptr, QuietDialogProc, 0)
                        : CreateDialogIndirectParamW(hModule, static_cast<LPCDLGTEMPLATEW>(pData), nullptr,
                                                     QuietDialogProc, 0);
        WString ws = DialogText(hDlg, text.at);
        if (hDlg != nullptr)
            DestroyWindow(hDlg);
        return ws;
    }
    case kString: {
        if (wLang != 0)
            return BlockString(pData, dwSize, text.wId % 16);
        WCHAR wsz[512];
        int n = LoadStringW(hModule, text.wId, wsz, 512);
        return n > 0 ? WString(wsz, n) : kMissing;
    }
    case kVersion: {
        std::vector<BYTE> info;
        if (wLang != 0)
        {
            info.assign(static_cast<const BYTE*>(pData), static_cast<const BYTE*>(pData) + dwSize);
        }
        else
        {
            DWORD dwHandle = 0;
            info.resize(GetFileVersionInfoSizeW(loaded.Path().c_str(), &dwHandle));
            if (!info.empty() &&
                !GetFileVersionInfoW(loaded.Path().c_str(), 0, static_cast<DWORD>(info.size()), info.data()))
                info.clear();
        }
        return VersionText(info, text.wszVersionKey);
    }
    }
    return kMissing;
}

// The code and data of the DLL, run: the loader maps and calls it, so the
// rebuild kept the sections, exports and relocations it did not mean to change.
// Nothing else may map the image meanwhile: a DLL without relocations loaded
// elsewhere would read its data through the other mapping.
void ExpectCodeRuns(const std::vector<BYTE>& image)
{
    LoadedImage loaded(image, 0);
    ASSERT_NE(nullptr, loaded.Module()) << "LoadLibraryExW failed with " << GetLastError();
    typedef const char* (*FnGreeting)();
    FARPROC pProc = GetProcAddress(loaded.Module(), "FixtureGreeting");
    EXPECT_NE(nullptr, pProc);
    if (pProc != nullptr)
    {
        FnGreeting fnGreeting = reinterpret_cast<FnGreeting>(reinterpret_cast<void (*)()>(pProc));
        EXPECT_STREQ("code and data outside the resources", fnGreeting());
    }
}

const UiText* FindText(const std::string& sSource)
{
    for (const UiText& text : kTexts)
        if (sSource == text.szSource)
            return &text;
    return nullptr;
}

// The table's translations keyed by the contexts the image's texts are listed
// under. Every text of the fixture is listed once under a context of its own,
// and nothing else is.
std::map<std::string, std::string> Translations(const std::vector<ResourceEntry>& entries)
{
    std::map<std::string, std::string> translations;
    std::multiset<std::string> listed, contexts;
    for (const ResourceEntry& entry : entries)
    {
        std::vector<ResourceText> texts;
        std::string sReason;
        if (!HasResourceTexts(entry))
            continue;
        EXPECT_EQ(1, ListResourceTexts(entry, texts, sReason)) << sReason;
        for (const ResourceText& text : texts)
        {
            listed.insert(text.sText);
            contexts.insert(text.sContext);
            const UiText* pText = FindText(text.sText);
            if (pText != nullptr && pText->szTranslation != nullptr)
                translations[text.sContext] = pText->szTranslation;
        }
    }
    std::multiset<std::string> expected;
    for (const UiText& text : kTexts)
        expected.insert(text.szSource);
    EXPECT_EQ(expected, listed);
    EXPECT_EQ(std::set<std::string>(contexts.begin(), contexts.end()).size(), contexts.size());
    return translations;
}

// The fixture's texts translated and the image rebuilt: in place (wAsLang 0),
// or as copies in language wAsLang beside the originals.
std::vector<BYTE> Rebuilt(const std::vector<BYTE>& image, WORD wAsLang)
{
    std::vector<ResourceEntry> entries;
    std::string sReason;
    EXPECT_EQ(1, ReadEntriesOf(image.data(), static_cast<DWORD>(image.size()), entries, sReason)) << sReason;
    std::map<std::string, std::string> translations = Translations(entries);
    for (size_t i = 0, cEntries = entries.size(); i < cEntries; ++i)
    {
        if (!HasResourceTexts(entries[i]))
            continue;
        ResourceEntry copy = entries[i];
        copy.wLang = wAsLang != 0 ? wAsLang : copy.wLang;
        EXPECT_EQ(1, TranslateResource(entries[i], translations, copy.data, sReason)) << sReason;
        if (wAsLang == 0)
            entries[i] = copy;
        else
            entries.push_back(copy);
    }
    RebuildResult result;
    EXPECT_EQ(1, RebuildOf(image.data(), static_cast<DWORD>(image.size()), entries, result))
        << result.sReason;
    return result.image;
}

// Translated in place, the translations are what a program sees where the
// originals were. Added as zh-CN, the en-US copy keeps the originals, and under
// the tests' zh_CN locale (code page 936, checked) the functions that pick the
// language themselves take the zh-CN copy.
TEST(ResourceLoad, TranslatedTextsAreWhatTheLoaderShows)
{
    for (const Fixture& fixture : kFixtures)
        for (WORD wAsLang : {WORD(0), kZhCn})
        {
            SCOPED_TRACE(std::string(fixture.szPath) + (wAsLang == 0 ? ", replaced" : ", added as zh-CN"));
            std::vector<BYTE> image = ReadFixture(fixture.szPath);
            ASSERT_FALSE(image.empty());
            std::vector<BYTE> translated = Rebuilt(image, wAsLang);
            {
                LoadedImage original(image, DataFileFlags(fixture.f64));
                ASSERT_NE(nullptr, original.Module()) << "the fixture does not load: " << GetLastError();
                LoadedImage rebuilt(translated, DataFileFlags(fixture.f64));
                ASSERT_NE(nullptr, rebuilt.Module()) << "the rebuilt image does not load: " << GetLastError();
                for (const UiText& text : kTexts)
                {
                    SCOPED_TRACE(text.szSource);
                    WString wsShown =
                        Wide(text.szTranslation != nullptr ? text.szTranslation : text.szSource);
                    EXPECT_EQ(Wide(text.szSource), ShownText(original, text, 0));
                    EXPECT_EQ(wsShown, ShownText(rebuilt, text, 0));
                    if (wAsLang != 0)
                    {
                        EXPECT_EQ(Wide(text.szSource), ShownText(rebuilt, text, kEnUs));
                        EXPECT_EQ(wsShown, ShownText(rebuilt, text, kZhCn));
                    }
                }
            }
            if (fixture.f64 == kProcess64)
                ExpectCodeRuns(translated);
        }
}
} // namespace
