#include "image/form_dialect.h"

#include <cstring>

namespace
{
bool IsNamed(const ResourceId& id, const char* sz)
{
    if (!id.fNamed || id.name.size() != std::strlen(sz))
        return false;
    for (size_t i = 0; i < id.name.size(); ++i)
        if (id.name[i] != static_cast<unsigned char>(sz[i]))
            return false;
    return true;
}

const WORD kRcData = 10;

// "FPC " and a version ("3.2.2", "2.6.4") with " for " soon after it.
bool HoldsFreePascalVersion(const BYTE* p, size_t cb)
{
    const size_t kWithin = 64;
    for (const BYTE* q = p; cb >= 8 && q <= p + cb - 8;)
    {
        const BYTE* hit = static_cast<const BYTE*>(std::memchr(q, 'F', p + cb - 8 - q + 1));
        if (hit == nullptr)
            return false;
        if (std::memcmp(hit, "FPC ", 4) == 0 && hit[4] >= '0' && hit[4] <= '9' && hit[5] == '.')
        {
            size_t cbLeft = static_cast<size_t>(p + cb - hit);
            size_t cbLook = cbLeft < kWithin ? cbLeft : kWithin;
            for (size_t i = 6; i + 5 <= cbLook; ++i)
                if (std::memcmp(hit + i, " for ", 5) == 0)
                    return true;
        }
        q = hit + 1;
    }
    return false;
}
} // namespace

FormDialect DetectFormDialect(const PeHeaders& headers, const std::vector<ResourceEntry>& entries)
{
    // Only forms ask: an image without one is not searched.
    bool fForms = false;
    for (const ResourceEntry& entry : entries)
        fForms = fForms || (!entry.type.fNamed && entry.type.wId == kRcData && entry.Size() >= 4 &&
                            std::memcmp(entry.Bytes(), "TPF0", 4) == 0);
    if (!fForms)
        return kFormDialectUnknown;
    for (const ResourceEntry& entry : entries)
        if (!entry.type.fNamed && entry.type.wId == kRcData &&
            (IsNamed(entry.name, "DVCLAL") || IsNamed(entry.name, "PACKAGEINFO")))
            return kFormDialectDelphi;
    return HoldsFreePascalVersion(headers.pView, headers.dwSize) ? kFormDialectFreePascal
                                                                 : kFormDialectUnknown;
}

FormDialect DetectFormDialect(const PeHeaders& headers)
{
    std::vector<ResourceEntry> entries;
    std::string sReason;
    ReadResourceEntries(headers, entries, sReason, kBorrowResourceData);
    return DetectFormDialect(headers, entries);
}
