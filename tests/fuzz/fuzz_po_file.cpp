// PO text from arbitrary bytes: ReadPo fails cleanly or gives entries that
// WritePo writes in a form ReadPo reads back to the same entries.
#include "po/po_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string sText(reinterpret_cast<const char*>(data), size);
    std::vector<PoEntry> entries;
    std::string sReason;
    if (!ReadPo(sText, entries, sReason))
    {
        Check(entries.empty() && sReason.compare(0, 5, "line ") == 0);
        return 0;
    }
    Check(sReason.empty());
    std::string sWritten = WritePo(entries);
    std::vector<PoEntry> again;
    Check(ReadPo(sWritten, again, sReason));
    Check(again == entries);
    return 0;
}
