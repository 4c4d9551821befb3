// PO text from arbitrary bytes: ReadPo fails cleanly or gives entries that
// WritePo writes in a form ReadPo reads back to the same entries.
#include "cli/po_file.h"

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
    std::string sError;
    if (ReadPo(sText, entries, sError) == 0)
    {
        Check(entries.empty() && sError.compare(0, 5, "line ") == 0);
        return 0;
    }
    Check(sError.empty());
    std::string sWritten = WritePo(entries);
    std::vector<PoEntry> again;
    Check(ReadPo(sWritten, again, sError) == 1);
    Check(again == entries);
    return 0;
}
