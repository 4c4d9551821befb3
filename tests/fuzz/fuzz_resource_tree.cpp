// The resource reader and the rebuild on arbitrary bytes: neither may read
// outside the input or crash; a tree that reads whole rebuilds, and the
// rebuilt image reads back as the same resources, one per type, name and
// language (the first of duplicates), named before ids and ids ascending.
// A refusal gives a reason and no image.
//
// Input: the bytes of the image.
#include "image/image_rebuild.h"
#include "support/image_reads.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

namespace
{
const size_t kMaxImage = 1 << 20;

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

typedef std::tuple<bool, WORD, std::u16string> IdKey;
typedef std::tuple<IdKey, IdKey, WORD> EntryKey;

IdKey KeyOf(const ResourceId& id)
{
    return IdKey(id.fNamed, id.fNamed ? 0 : id.wId, id.fNamed ? id.name : std::u16string());
}
EntryKey KeyOf(const ResourceEntry& e)
{
    return EntryKey(KeyOf(e.type), KeyOf(e.name), e.wLang);
}

// The entries the rebuilt image must hold: the first of each key.
std::map<EntryKey, const ResourceEntry*> FirstOfEach(const std::vector<ResourceEntry>& entries)
{
    std::map<EntryKey, const ResourceEntry*> first;
    for (const ResourceEntry& e : entries)
        first.emplace(KeyOf(e), &e);
    return first;
}

// Named ids before numbered ones, numbered ones ascending.
bool InIdOrder(const ResourceId& a, const ResourceId& b)
{
    if (a.fNamed != b.fNamed)
        return a.fNamed;
    return a.fNamed || a.wId <= b.wId;
}

void CheckRebuilt(const std::vector<ResourceEntry>& entries, const RebuildResult& result)
{
    Check(!result.image.empty() && result.sReason.empty());
    std::vector<ResourceEntry> again;
    std::string sReason;
    Check(ReadEntriesOf(result.image.data(), static_cast<DWORD>(result.image.size()), again, sReason) == 1);
    std::map<EntryKey, const ResourceEntry*> expected = FirstOfEach(entries);
    Check(again.size() == expected.size());
    for (size_t i = 0; i < again.size(); ++i)
    {
        auto it = expected.find(KeyOf(again[i]));
        Check(it != expected.end());
        Check(it->second->data == again[i].data && it->second->dwCodePage == again[i].dwCodePage);
        if (i == 0)
            continue;
        const ResourceEntry& prev = again[i - 1];
        Check(InIdOrder(prev.type, again[i].type));
        if (KeyOf(prev.type) == KeyOf(again[i].type))
        {
            Check(InIdOrder(prev.name, again[i].name));
            if (KeyOf(prev.name) == KeyOf(again[i].name))
                Check(prev.wLang < again[i].wLang);
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxImage)
        return 0;
    // A copy of exactly the input's size, so a read past its end is caught.
    BYTE* pView = new BYTE[size];
    std::memcpy(pView, data, size);
    DWORD dwSize = static_cast<DWORD>(size);
    std::vector<ResourceEntry> entries;
    std::string sReason;
    int fRead = ReadEntriesOf(pView, dwSize, entries, sReason);
    Check(fRead == 1 ? sReason.empty() : !sReason.empty() && entries.empty());
    // Borrowing refuses the same trees and points at the bytes a copy holds.
    std::vector<ResourceEntry> borrowed;
    std::string sBorrowed;
    Check(ReadEntriesOf(pView, dwSize, borrowed, sBorrowed, kBorrowResourceData) == fRead &&
          sBorrowed == sReason && borrowed.size() == entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        Check(borrowed[i].data.empty() && borrowed[i].Size() == entries[i].data.size() &&
              (entries[i].data.empty() ||
               (borrowed[i].Bytes() >= pView && borrowed[i].Bytes() + borrowed[i].Size() <= pView + size &&
                std::memcmp(borrowed[i].Bytes(), entries[i].data.data(), entries[i].data.size()) == 0)));

    // As a command does: only a tree read whole is rebuilt.
    RebuildResult result;
    if (fRead != 1)
        result.sReason = sReason;
    else if (RebuildOf(pView, dwSize, entries, result) == 1)
    {
        CheckRebuilt(entries, result);
        // A changed, longer resource and a new one take the same way.
        entries.push_back({{true, 0, u"Added"}, {false, 7, std::u16string()}, 0x804, 936, {1, 2, 3}});
        if (!entries.front().data.empty())
            entries.front().data.resize(entries.front().data.size() * 2 + 5, 0x5A);
        RebuildResult changed;
        // It may still be refused: a tree that fitted in place may now need a
        // new section header and find no room for it.
        if (RebuildOf(pView, dwSize, entries, changed) == 1)
            CheckRebuilt(entries, changed);
        else
            Check(changed.image.empty() && !changed.sReason.empty());
    }
    else
        Check(result.image.empty() && !result.sReason.empty());
    delete[] pView;
    return 0;
}
