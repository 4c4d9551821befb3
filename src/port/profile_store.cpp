#include "port/profile_store.h"

#include "port/profile_file.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace profile_store
{
namespace
{
typedef std::basic_string<WCHAR> WString;

const WCHAR kCrLf[] = {'\r', '\n', 0};
const size_t kMaxCachedFiles = 8;
const size_t kNoSection = static_cast<size_t>(-1);

enum class LineKind
{
    Blank,
    Comment,
    Header,
    Key,
    Bare // text without '=': listed by a section read, never a key
};

struct Line
{
    std::string raw; // the bytes as stored, line ending included
    LineKind kind = LineKind::Blank;
    WString name;  // section name of a header, key name of a key line, text of a bare line
    WString value; // of a key line: blanks trimmed, quotes kept
};

// A section owns its lines, so that an edit costs what the section holds, not
// what the file holds.
struct Section
{
    std::vector<Line> lines; // the header, then every line up to the next header
    WString name;
    WString folded;
    size_t nextOfName = kNoSection; // the next section of the same name
    // Folded name -> index in lines of the first key or bare line: a bare line
    // hides later keys of its name (they read as the default) and a write gives
    // it a value.
    std::unordered_map<WString, size_t> keys;
};

struct ProfileFile
{
    WString path;
    NativeName native;
    FileStamp stamp;
    bool unicode = false;
    bool unreadable = false; // exists but could not be read: never to be overwritten
    bool pending = false;    // changed while writes are held back; not yet on disk
    unsigned snapshot = 0;   // the snapshot in which the file was last checked
    std::string bom;
    // An odd last byte of a UTF-16LE file: no unit reads it, and it stays the
    // file's last byte, so new lines start on a unit boundary.
    std::string trailer;
    std::vector<Line> prelude; // lines before the first header: no key there is read
    std::vector<Section> sections;
    // Folded name -> first section of that name, the one read; with nextOfName
    // they list every section of the name. Rebuilt when sections were removed
    // or split off since.
    std::unordered_map<WString, size_t> sectionByName;
    bool namesStale = false;
};

bool IsBlank(WCHAR c)
{
    return c == ' ' || c == '\t' || c == '\v';
}
bool IsLineEnd(WCHAR c)
{
    return c == '\r' || c == '\n';
}

WString Trim(const WString& s, bool (*isBlank)(WCHAR))
{
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}
bool IsSpace(WCHAR c)
{
    return c == ' ';
}

WCHAR FoldUnit(WCHAR c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
        return static_cast<WCHAR>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F)
        return static_cast<WCHAR>(c + 0x50);
    return c;
}

WString Fold(const WString& s)
{
    WString folded(s);
    for (WCHAR& c : folded)
        c = FoldUnit(c);
    return folded;
}

size_t UnitLength(LPCWSTR ws)
{
    size_t n = 0;
    while (ws[n] != 0)
        ++n;
    return n;
}

// Decodes one line's content (no ending) and sorts it into its kind.
void ClassifyLine(Line& line, const WString& text)
{
    size_t len = text.find(WCHAR(0));
    if (len == WString::npos)
        len = text.size();
    size_t i = 0;
    while (i < len && IsBlank(text[i]))
        ++i;
    if (i == len)
    {
        line.kind = LineKind::Blank;
        return;
    }
    if (text[i] == '[')
    {
        // The name ends at the first ']'; a header without one still counts.
        size_t close = text.find(WCHAR(']'), i + 1);
        if (close == WString::npos || close > len)
            close = len;
        line.kind = LineKind::Header;
        line.name = Trim(text.substr(i + 1, close - i - 1), IsBlank);
        return;
    }
    if (text[i] == ';')
    {
        line.kind = LineKind::Comment;
        return;
    }
    size_t eq = text.find(WCHAR('='), i);
    if (eq == WString::npos || eq > len)
    {
        line.kind = LineKind::Bare;
        line.name = Trim(text.substr(i, len - i), IsBlank);
        return;
    }
    line.kind = LineKind::Key;
    line.name = Trim(text.substr(i, eq - i), IsBlank);
    line.value = Trim(text.substr(eq + 1, len - eq - 1), IsBlank);
}

WString DecodeAnsi(const char* p, size_t cb)
{
    if (cb == 0)
        return WString();
    WString text(cb, WCHAR(0));
    int cch = MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(cb), &text[0], static_cast<int>(cb));
    text.resize(cch > 0 ? static_cast<size_t>(cch) : 0);
    return text;
}

std::string EncodeAnsi(const WString& text)
{
    if (text.empty())
        return std::string();
    int cb = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
    std::string bytes(cb > 0 ? static_cast<size_t>(cb) : 0, '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], cb, nullptr,
                            nullptr);
    return bytes;
}

std::string Encode(const ProfileFile& file, const WString& text)
{
    if (!file.unicode)
        return EncodeAnsi(text);
    std::string bytes(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i)
    {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return bytes;
}

// Splits bytes [begin, end) at CR LF, CR or LF into lines, handed to take one
// by one; each keeps its own ending. UTF-16 text is whole units.
template <typename Take>
void ParseLines(const std::string& bytes, size_t begin, size_t end, bool unicode, Take take)
{
    const size_t unit = unicode ? 2 : 1;
    auto unitAt = [&](size_t pos) -> WCHAR {
        if (!unicode)
            return static_cast<unsigned char>(bytes[pos]);
        return static_cast<WCHAR>(static_cast<unsigned char>(bytes[pos]) |
                                  static_cast<unsigned char>(bytes[pos + 1]) << 8);
    };
    size_t pos = begin;
    while (pos < end)
    {
        size_t contentEnd = pos;
        while (contentEnd < end && !IsLineEnd(unitAt(contentEnd)))
            contentEnd += unit;
        size_t next = contentEnd;
        if (next < end && unitAt(next) == '\r')
            next += unit;
        if (next < end && unitAt(next) == '\n' && (next == contentEnd || unitAt(contentEnd) == '\r'))
            next += unit;
        Line line;
        line.raw.assign(bytes, pos, next - pos);
        WString text;
        if (unicode)
        {
            text.resize((contentEnd - pos) / 2);
            for (size_t i = 0; i < text.size(); ++i)
                text[i] = unitAt(pos + 2 * i);
        }
        else
            text = DecodeAnsi(bytes.data() + pos, contentEnd - pos);
        ClassifyLine(line, text);
        take(std::move(line));
        pos = next;
    }
}

bool IsEntry(const Line& line)
{
    return line.kind == LineKind::Key || line.kind == LineKind::Bare;
}
bool IsHeader(const Line& line)
{
    return line.kind == LineKind::Header;
}

void IndexKeys(Section& section)
{
    section.keys.clear();
    for (size_t i = 1; i < section.lines.size(); ++i)
        if (IsEntry(section.lines[i]))
            section.keys.emplace(Fold(section.lines[i].name), i);
}

// From the last section to the first, so that each name's chain is in file order.
void IndexNames(ProfileFile& file)
{
    file.sectionByName.clear();
    for (size_t s = file.sections.size(); s-- > 0;)
    {
        Section& section = file.sections[s];
        auto named = file.sectionByName.emplace(section.folded, s);
        section.nextOfName = named.second ? kNoSection : named.first->second;
        named.first->second = s;
    }
    file.namesStale = false;
}

// Indexes the name of a section added at the end of the file.
void IndexName(ProfileFile& file, size_t sectionIndex)
{
    auto named = file.sectionByName.emplace(file.sections[sectionIndex].folded, sectionIndex);
    if (named.second)
        return;
    size_t s = named.first->second;
    while (file.sections[s].nextOfName != kNoSection)
        s = file.sections[s].nextOfName;
    file.sections[s].nextOfName = sectionIndex;
}

// Adds a line at the end of the file: a header starts a section. The names of
// new sections are left to the caller to index.
void AddLine(ProfileFile& file, Line&& line)
{
    if (IsHeader(line))
    {
        // The sections of a file tend to be alike: room for as many lines as
        // the one before spares the growing of each.
        size_t room = file.sections.empty() ? 0 : file.sections.back().lines.size();
        file.sections.emplace_back();
        file.sections.back().lines.reserve(room);
        file.sections.back().name = line.name;
        file.sections.back().folded = Fold(line.name);
    }
    else if (file.sections.empty())
    {
        file.prelude.push_back(std::move(line));
        return;
    }
    Section& section = file.sections.back();
    if (IsEntry(line))
        section.keys.emplace(Fold(line.name), section.lines.size());
    section.lines.push_back(std::move(line));
}

// Lines put at the end of the file: those before a header join the last
// section (or the prelude), each header starts a section.
void AppendLines(ProfileFile& file, std::vector<Line> lines)
{
    size_t added = file.sections.size();
    for (Line& line : lines)
        AddLine(file, std::move(line));
    for (; added < file.sections.size() && !file.namesStale; ++added)
        IndexName(file, added);
}

// An edit may have brought a header into a section (a value with a line break
// in it): the section then ends before it, and what follows becomes sections
// of its own.
void SettleSection(ProfileFile& file, size_t sectionIndex)
{
    std::vector<Line>& lines = file.sections[sectionIndex].lines;
    auto header = std::find_if(lines.begin() + 1, lines.end(), IsHeader);
    if (header != lines.end())
    {
        ProfileFile split;
        for (auto it = header; it != lines.end(); ++it)
            AddLine(split, std::move(*it));
        lines.erase(header, lines.end());
        file.sections.insert(file.sections.begin() + static_cast<std::ptrdiff_t>(sectionIndex + 1),
                             std::make_move_iterator(split.sections.begin()),
                             std::make_move_iterator(split.sections.end()));
        file.namesStale = true;
    }
    IndexKeys(file.sections[sectionIndex]);
}

void ParseFile(ProfileFile& file, const std::string& bytes)
{
    file.unicode = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                   static_cast<unsigned char>(bytes[1]) == 0xFE;
    file.bom = file.unicode ? bytes.substr(0, 2) : std::string();
    size_t end = bytes.size();
    if (file.unicode && end % 2 != 0)
        --end;
    file.trailer = bytes.substr(end);
    ParseLines(bytes, file.bom.size(), end, file.unicode,
               [&](Line&& line) { AddLine(file, std::move(line)); });
    IndexNames(file);
}

std::string Serialize(const ProfileFile& file)
{
    size_t cb = file.bom.size() + file.trailer.size();
    for (const Line& line : file.prelude)
        cb += line.raw.size();
    for (const Section& section : file.sections)
        for (const Line& line : section.lines)
            cb += line.raw.size();
    std::string bytes;
    bytes.reserve(cb);
    bytes += file.bom;
    for (const Line& line : file.prelude)
        bytes += line.raw;
    for (const Section& section : file.sections)
        for (const Line& line : section.lines)
            bytes += line.raw;
    bytes += file.trailer;
    return bytes;
}

std::mutex g_lock;
std::list<ProfileFile> g_cache; // most recently used first
int g_deferDepth = 0;
int g_snapshotDepth = 0;
unsigned g_snapshot = 0; // counts snapshots, so that a file checked in an earlier one is checked again

bool g_deferFailed = false; // a held-back file could not be written in this block

// Writes a held-back file; false when it could not be written, and then the
// parsed copy, which no longer matches the disk, is forgotten. A file another
// program changed since the held-back changes began is not written over: that
// would drop its change.
bool WritePending(std::list<ProfileFile>::iterator it)
{
    it->pending = false;
    if (StampFile(it->native, it->stamp.identity != 0) == it->stamp &&
        ReplaceWholeFile(it->native, Serialize(*it), it->stamp))
        return true;
    g_cache.erase(it);
    g_deferFailed = true;
    return false;
}

// The parsed file, fresh from disk when it changed since it was parsed. A file
// that cannot be read is an empty file that does not exist. A snapshot spares
// the check for reads only: a write always starts from the file as it stands,
// so that it never drops another program's change.
ProfileFile& CachedFile(LPCWSTR wsFile, bool forWrite)
{
    auto it = g_cache.begin();
    while (it != g_cache.end() && it->path != wsFile)
        ++it;
    // Held-back changes are the file as this process knows it, whatever the disk holds.
    bool current = it != g_cache.end() &&
                   (it->pending || (!forWrite && g_snapshotDepth > 0 && it->snapshot == g_snapshot));
    if (current)
    {
        it->snapshot = g_snapshot;
        g_cache.splice(g_cache.begin(), g_cache, it);
        return g_cache.front();
    }
    NativeName native = it != g_cache.end() ? it->native : ToNativeName(wsFile);
    FileStamp stamp = StampFile(native, it != g_cache.end() && it->stamp.identity != 0);
    if (it != g_cache.end())
    {
        if (it->stamp == stamp)
        {
            it->snapshot = g_snapshot;
            g_cache.splice(g_cache.begin(), g_cache, it);
            return g_cache.front();
        }
        g_cache.erase(it);
    }
    ProfileFile file;
    file.path = wsFile;
    file.native = native;
    file.snapshot = g_snapshot;
    std::string bytes;
    if (stamp.exists && ReadWholeFile(native, bytes, file.stamp))
        ParseFile(file, bytes);
    else
        file.unreadable = stamp.exists;
    g_cache.push_front(std::move(file));
    if (g_cache.size() > kMaxCachedFiles)
    {
        auto last = std::prev(g_cache.end());
        if (!last->pending || WritePending(last))
            g_cache.erase(std::prev(g_cache.end()));
    }
    return g_cache.front();
}

// The parsed file with its name index up to date: a write that removed or
// split off sections leaves the index to the next use.
ProfileFile& OpenFile(LPCWSTR wsFile, bool forWrite = false)
{
    ProfileFile& file = CachedFile(wsFile, forWrite);
    if (file.namesStale)
        IndexNames(file);
    return file;
}

bool SaveFile(ProfileFile& file)
{
    if (g_deferDepth > 0)
    {
        file.pending = true;
        return true;
    }
    if (ReplaceWholeFile(file.native, Serialize(file), file.stamp))
        return true;
    // The parsed copy no longer matches the disk: forget it.
    for (auto it = g_cache.begin(); it != g_cache.end(); ++it)
        if (&*it == &file)
        {
            g_cache.erase(it);
            break;
        }
    return false;
}

// Reads and writes of one key ignore spaces around the section name; lists of
// a section's keys or lines match the name as given.
const Section* FindSection(const ProfileFile& file, const WString& name, bool trim = true)
{
    auto it = file.sectionByName.find(Fold(trim ? Trim(name, IsSpace) : name));
    return it == file.sectionByName.end() ? nullptr : &file.sections[it->second];
}

const Line* FindKey(const Section& section, const WString& key)
{
    auto it = section.keys.find(Fold(Trim(key, IsSpace)));
    return it == section.keys.end() ? nullptr : &section.lines[it->second];
}

DWORD CopyOut(const WString& text, LPWSTR wsBuffer, DWORD dwSize)
{
    size_t n = text.size() < dwSize ? text.size() : dwSize - 1;
    text.copy(wsBuffer, n);
    wsBuffer[n] = 0;
    if (n < text.size())
        SetLastError(ERROR_MORE_DATA);
    return static_cast<DWORD>(n);
}

// Copies a value or a default without its surrounding quote pair, cut to the
// buffer. The text is copied with its closing quote, which then becomes a
// second zero, as on Windows; a text that fills the buffer exactly keeps its
// last character (Wine drops it, where the documented result is the text cut
// to fit).
DWORD CopyUnquoted(const WString& value, LPWSTR wsBuffer, DWORD dwSize)
{
    bool quoted = value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
    if (!quoted)
        return CopyOut(value, wsBuffer, dwSize);
    WString text = value.substr(1);
    DWORD dwLen = CopyOut(text, wsBuffer, dwSize);
    if (dwSize > text.size() && dwLen > 0)
        wsBuffer[--dwLen] = 0;
    return dwLen;
}

// Writes the names into a double-zero-terminated list the way the Windows
// functions do: a list that does not fit has its last name cut, two zeros, and
// returns the capacity less two. A key list cut where a name would start gets
// no empty name, only the closing zero.
DWORD CopyNameList(const std::vector<WString>& names, LPWSTR wsBuffer, DWORD dwSize, bool keyList)
{
    if (dwSize == 1)
    {
        wsBuffer[0] = 0;
        return 0;
    }
    DWORD dwFree = dwSize - 1;
    LPWSTR p = wsBuffer;
    for (const WString& name : names)
    {
        DWORD dwNeed = static_cast<DWORD>(name.size()) + 1;
        if (dwNeed >= dwFree)
        {
            name.copy(p, dwFree - 1);
            p += dwFree - 1;
            *p = 0;
            if (!keyList || dwFree > 1 || p == wsBuffer)
                p[1] = 0;
            return dwSize - 2;
        }
        name.copy(p, name.size());
        p += name.size();
        *p++ = 0;
        dwFree -= dwNeed;
    }
    *p = 0;
    return static_cast<DWORD>(p - wsBuffer);
}

// Section lines as "name=value" (bare lines as their text), each zero-terminated,
// the list closed by one more zero; cut as the Windows section read cuts.
DWORD CopySectionLines(const Section& section, LPWSTR wsBuffer, DWORD dwSize)
{
    LPWSTR p = wsBuffer;
    DWORD dwLeft = dwSize;
    auto copyPiece = [&](const WString& s) {
        size_t n = s.size() < dwLeft - 2 ? s.size() : dwLeft - 2;
        s.copy(p, n);
        p[n] = 0;
        dwLeft -= static_cast<DWORD>(n) + 1;
        p += n + 1;
    };
    for (size_t i = 1; i < section.lines.size(); ++i)
    {
        const Line& line = section.lines[i];
        if (line.kind != LineKind::Key && line.kind != LineKind::Bare)
            continue;
        if (dwLeft <= 2)
            break;
        copyPiece(line.name);
        if (dwLeft < 2)
            break;
        if (line.kind == LineKind::Key)
        {
            p[-1] = '='; // joins the name to its value in place of the name's zero
            copyPiece(line.value);
        }
    }
    *p = 0;
    if (dwLeft <= 1)
    {
        p[-1] = 0;
        return dwSize - 2;
    }
    return dwSize - dwLeft;
}

// Makes sure the line ends with a line break before something is put after it.
void EnsureLineEnd(const ProfileFile& file, Line& line)
{
    std::string& raw = line.raw;
    bool ended = false;
    if (file.unicode)
        ended = raw.size() >= 2 && raw[raw.size() - 1] == 0 &&
                IsLineEnd(static_cast<unsigned char>(raw[raw.size() - 2]));
    else
        ended = !raw.empty() && IsLineEnd(static_cast<unsigned char>(raw.back()));
    if (!ended)
        raw += Encode(file, kCrLf);
}

std::vector<Line> MakeLines(const ProfileFile& file, const WString& text)
{
    std::string bytes = Encode(file, text);
    std::vector<Line> lines;
    ParseLines(bytes, 0, bytes.size(), file.unicode, [&](Line&& line) { lines.push_back(std::move(line)); });
    return lines;
}

// Puts lines into a section before its line at (at least 1: after the header).
void InsertLines(ProfileFile& file, size_t sectionIndex, size_t at, std::vector<Line> lines)
{
    std::vector<Line>& to = file.sections[sectionIndex].lines;
    EnsureLineEnd(file, to[at - 1]);
    to.insert(to.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(lines.begin()),
              std::make_move_iterator(lines.end()));
    SettleSection(file, sectionIndex);
}

void AppendSection(ProfileFile& file, const WString& name, const WString& body)
{
    if (!file.sections.empty())
        EnsureLineEnd(file, file.sections.back().lines.back());
    else if (!file.prelude.empty())
        EnsureLineEnd(file, file.prelude.back());
    else if (!file.bom.empty())
        // A file holding only its byte-order mark gets a line break after it, as
        // any non-empty file does before a new section.
        file.prelude = MakeLines(file, kCrLf);
    AppendLines(file, MakeLines(file, W("[") + name + W("]") + kCrLf + body));
}

// Removes the key and bare lines of a section; comments and blank lines stay
// where they are. Returns whether anything was removed.
bool RemoveEntries(Section& section)
{
    auto keep = std::stable_partition(section.lines.begin() + 1, section.lines.end(),
                                      [](const Line& line) { return !IsEntry(line); });
    bool removed = keep != section.lines.end();
    section.lines.erase(keep, section.lines.end());
    section.keys.clear();
    return removed;
}

// Removes a section but for its comments, which stay where they are and so
// join the section before.
void RemoveSection(ProfileFile& file, size_t sectionIndex)
{
    std::vector<Line>& lines = file.sections[sectionIndex].lines;
    std::vector<Line>& before = sectionIndex > 0 ? file.sections[sectionIndex - 1].lines : file.prelude;
    for (Line& line : lines)
        if (line.kind == LineKind::Comment)
            before.push_back(std::move(line));
    file.sections.erase(file.sections.begin() + static_cast<std::ptrdiff_t>(sectionIndex));
    file.namesStale = true;
}

// Writing a file that exists but could not be read would replace text that
// was never read. Inside held-back writes the refusal counts as a failed
// write of the block, so that an action of many writes is never reported
// done with some of them missing.
BOOL RefuseUnread()
{
    if (g_deferDepth > 0)
        g_deferFailed = true;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

bool ValidFileArgument(LPCWSTR wsFile)
{
    if (wsFile == nullptr || wsFile[0] == 0)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}
} // namespace

DWORD GetString(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsDefault, LPWSTR wsBuffer, DWORD dwSize,
                LPCWSTR wsFile)
{
    if (wsBuffer == nullptr || dwSize == 0)
    {
        SetLastError(ERROR_MORE_DATA);
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    const ProfileFile* pFile = wsFile != nullptr && wsFile[0] != 0 ? &OpenFile(wsFile) : nullptr;
    if (wsSection == nullptr)
    {
        std::vector<WString> names;
        if (pFile != nullptr)
            for (const Section& section : pFile->sections)
                if (!section.name.empty())
                    names.push_back(section.name);
        return CopyNameList(names, wsBuffer, dwSize, false);
    }
    const Section* pSection = pFile != nullptr ? FindSection(*pFile, wsSection, wsKey != nullptr) : nullptr;
    if (pSection != nullptr && wsKey == nullptr)
    {
        std::vector<WString> names;
        for (size_t i = 1; i < pSection->lines.size(); ++i)
            if (pSection->lines[i].kind == LineKind::Key)
                names.push_back(pSection->lines[i].name);
        if (!names.empty())
            return CopyNameList(names, wsBuffer, dwSize, true);
    }
    const Line* pLine = pSection != nullptr && wsKey != nullptr ? FindKey(*pSection, wsKey) : nullptr;
    if (pLine != nullptr && pLine->kind == LineKind::Key)
    {
        // Windows hands values back through a 16-bit length, so one of 65,536
        // characters reads as none; here a long value is cut to the buffer like
        // any other, so a rule never ends the list or shrinks to a wrong text.
        return CopyUnquoted(pLine->value, wsBuffer, dwSize);
    }
    // The default loses a quote pair and, unless it stands in for an empty key
    // list, its trailing spaces (only those) before that. A key list that found
    // nothing is an empty list before the default goes in.
    WString def = wsDefault != nullptr ? WString(wsDefault) : WString();
    if (wsKey == nullptr && pSection == nullptr && dwSize >= 2)
        wsBuffer[1] = 0;
    while (wsKey != nullptr && !def.empty() && def.back() == ' ')
        def.pop_back();
    if (pFile == nullptr || !pFile->stamp.exists)
        SetLastError(ERROR_FILE_NOT_FOUND);
    return CopyUnquoted(def, wsBuffer, dwSize);
}

DWORD GetStringA(LPCSTR szSection, LPCSTR szKey, LPCSTR szDefault, LPSTR szBuffer, DWORD dwSize,
                 LPCSTR szFile)
{
    if (szBuffer == nullptr || dwSize == 0)
        return 0;
    auto widen = [](LPCSTR sz) { return sz != nullptr ? DecodeAnsi(sz, std::strlen(sz)) : WString(); };
    WString wsSection = widen(szSection), wsKey = widen(szKey), wsDefault = widen(szDefault),
            wsFile = widen(szFile);
    std::vector<WCHAR> wsBuffer(dwSize, WCHAR(0));
    DWORD dwLen = GetString(szSection ? wsSection.c_str() : nullptr, szKey ? wsKey.c_str() : nullptr,
                            szDefault ? wsDefault.c_str() : nullptr, wsBuffer.data(), dwSize,
                            szFile ? wsFile.c_str() : nullptr);
    // Lists keep their zero separators; each piece is converted as it stands.
    std::string bytes = EncodeAnsi(WString(wsBuffer.data(), dwLen));
    size_t cb = bytes.size();
    if (cb > dwSize - 1)
    {
        // Cut where a whole character ends, never inside a double-byte one:
        // Windows may leave a lone lead byte here, which the patch run would
        // then search for as half a character.
        size_t cut = 0;
        for (size_t i = 0; i < dwLen; ++i)
        {
            size_t cbChar = EncodeAnsi(WString(1, wsBuffer[i])).size();
            if (wsBuffer[i] == 0)
                cbChar = 1;
            if (cut + cbChar > dwSize - 1)
                break;
            cut += cbChar;
        }
        cb = cut;
    }
    std::memcpy(szBuffer, bytes.data(), cb);
    szBuffer[cb] = 0;
    return static_cast<DWORD>(cb);
}

UINT GetInt(LPCWSTR wsSection, LPCWSTR wsKey, INT nDefault, LPCWSTR wsFile)
{
    WCHAR wsValue[30];
    DWORD dwLen = GetString(wsSection, wsKey, W(""), wsValue, 30, wsFile);
    if (dwLen == 0)
        return static_cast<UINT>(nDefault);
    // Decimal with an optional sign, or 0x, 0o and 0b prefixes; stops at the
    // first other character and wraps on overflow.
    const WCHAR* p = wsValue;
    while (*p != 0 && *p <= ' ')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    UINT base = 10;
    if (p[0] == '0' &&
        (p[1] == 'x' || p[1] == 'X' || p[1] == 'o' || p[1] == 'O' || p[1] == 'b' || p[1] == 'B'))
    {
        base = p[1] == 'x' || p[1] == 'X' ? 16 : p[1] == 'o' || p[1] == 'O' ? 8 : 2;
        p += 2;
    }
    UINT result = 0;
    for (; *p != 0; ++p)
    {
        UINT digit = *p >= '0' && *p <= '9'   ? *p - '0'
                     : *p >= 'A' && *p <= 'Z' ? *p - 'A' + 10
                     : *p >= 'a' && *p <= 'z' ? *p - 'a' + 10
                                              : 99;
        if (digit >= base)
            break;
        result = result * base + digit;
    }
    return negative ? 0u - result : result;
}

DWORD GetSection(LPCWSTR wsSection, LPWSTR wsBuffer, DWORD dwSize, LPCWSTR wsFile)
{
    if (wsSection == nullptr || wsBuffer == nullptr || dwSize == 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwSize == 1)
    {
        wsBuffer[0] = 0;
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    const ProfileFile* pFile = wsFile != nullptr && wsFile[0] != 0 ? &OpenFile(wsFile) : nullptr;
    const Section* pSection = pFile != nullptr ? FindSection(*pFile, wsSection, false) : nullptr;
    if (pSection == nullptr)
    {
        wsBuffer[0] = 0;
        wsBuffer[1] = 0;
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return CopySectionLines(*pSection, wsBuffer, dwSize);
}

BOOL WriteString(LPCWSTR wsSection, LPCWSTR wsKey, LPCWSTR wsValue, LPCWSTR wsFile)
{
    if (wsSection == nullptr && wsKey == nullptr && wsValue == nullptr && wsFile == nullptr)
        return TRUE; // a request to flush: nothing is held back
    if (wsSection == nullptr)
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!ValidFileArgument(wsFile))
        return FALSE;
    std::lock_guard<std::mutex> lock(g_lock);
    ProfileFile& file = OpenFile(wsFile, true);
    if (file.unreadable)
        return RefuseUnread();
    WString section = Trim(wsSection, IsSpace);
    const Section* pSection = FindSection(file, section);
    if (wsKey == nullptr)
    {
        if (pSection == nullptr)
            return TRUE;
        RemoveSection(file, static_cast<size_t>(pSection - file.sections.data()));
        return SaveFile(file);
    }
    WString key = Trim(wsKey, IsSpace);
    WString value = wsValue != nullptr ? WString(wsValue) : WString();
    if (pSection == nullptr)
    {
        if (wsValue == nullptr)
            return TRUE;
        AppendSection(file, section, key + W("=") + value + kCrLf);
        return SaveFile(file);
    }
    size_t sectionIndex = static_cast<size_t>(pSection - file.sections.data());
    Section& target = file.sections[sectionIndex];
    const Line* pLine = FindKey(target, key);
    if (wsValue == nullptr)
    {
        if (pLine == nullptr)
            return TRUE;
        target.lines.erase(target.lines.begin() + (pLine - target.lines.data()));
        IndexKeys(target);
        return SaveFile(file);
    }
    if (pLine != nullptr)
    {
        if (pLine->kind == LineKind::Key && pLine->value == value)
            return TRUE;
        // The key keeps the spelling it has in the file.
        size_t index = static_cast<size_t>(pLine - target.lines.data());
        std::vector<Line> lines = MakeLines(file, pLine->name + W("=") + value + kCrLf);
        if (lines.size() == 1 && lines[0].kind == LineKind::Key && lines[0].name == pLine->name)
        {
            // One key line for another of the same name: the index stands.
            target.lines[index] = std::move(lines[0]);
            return SaveFile(file);
        }
        target.lines.erase(target.lines.begin() + static_cast<std::ptrdiff_t>(index));
        InsertLines(file, sectionIndex, index, std::move(lines));
        return SaveFile(file);
    }
    // A new key goes after the section's last entry, or right after its header.
    size_t at = 1;
    for (size_t i = 1; i < target.lines.size(); ++i)
        if (IsEntry(target.lines[i]))
            at = i + 1;
    InsertLines(file, sectionIndex, at, MakeLines(file, key + W("=") + value + kCrLf));
    return SaveFile(file);
}

BOOL WriteSection(LPCWSTR wsSection, LPCWSTR wsList, LPCWSTR wsFile)
{
    if (wsSection == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ValidFileArgument(wsFile))
        return FALSE;
    std::lock_guard<std::mutex> lock(g_lock);
    ProfileFile& file = OpenFile(wsFile, true);
    if (file.unreadable)
        return RefuseUnread();
    WString section = Trim(wsSection, IsSpace);
    const Section* pSection = FindSection(file, section);
    if (wsList == nullptr)
    {
        if (pSection == nullptr)
            return TRUE;
        RemoveSection(file, static_cast<size_t>(pSection - file.sections.data()));
        return SaveFile(file);
    }
    // Entries without '=' are not keys and are dropped.
    WString body;
    for (LPCWSTR p = wsList; *p != 0; p += UnitLength(p) + 1)
    {
        WString entry(p);
        size_t eq = entry.find(WCHAR('='));
        if (eq != WString::npos)
            body += Trim(entry.substr(0, eq), IsSpace) + entry.substr(eq) + kCrLf;
    }
    bool changed = false;
    if (pSection != nullptr)
    {
        // Every section of that name loses its keys; the first receives the list.
        size_t first = static_cast<size_t>(pSection - file.sections.data());
        for (size_t s = first; s != kNoSection; s = file.sections[s].nextOfName)
            changed = RemoveEntries(file.sections[s]) || changed;
        if (!body.empty())
        {
            InsertLines(file, first, 1, MakeLines(file, body));
            changed = true;
        }
    }
    else if (!body.empty())
    {
        AppendSection(file, section, body);
        changed = true;
    }
    return changed ? SaveFile(file) : TRUE;
}

void BeginDeferredWrites()
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_deferDepth++ == 0)
        g_deferFailed = false;
}

BOOL EndDeferredWrites()
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_deferDepth == 0 || --g_deferDepth > 0)
        return TRUE;
    for (auto it = g_cache.begin(); it != g_cache.end();)
    {
        auto next = std::next(it);
        if (it->pending)
            WritePending(it);
        it = next;
    }
    // Also a file written early, when the cache made room for another, counts.
    BOOL ok = g_deferFailed ? FALSE : TRUE;
    g_deferFailed = false;
    return ok;
}

void BeginSnapshot()
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_snapshotDepth++ == 0)
        ++g_snapshot;
}

void EndSnapshot()
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_snapshotDepth > 0)
        --g_snapshotDepth;
}

void DropCache()
{
    std::lock_guard<std::mutex> lock(g_lock);
    for (auto it = g_cache.begin(); it != g_cache.end();)
    {
        auto next = std::next(it);
        if (it->pending)
            WritePending(it);
        it = next;
    }
    g_cache.clear();
}
} // namespace profile_store
