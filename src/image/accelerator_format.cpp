// Accelerator tables: entries of flags, key, id and padding, up to the one
// flagged as the last. The map labels them; they hold no text.
#include "image/resource_format.h"

#include "port/utf8.h"

namespace
{
const WORD kAccelEnd = 0x80;
const DWORD kEntryBytes = 8;

class CAcceleratorReader : public CFormatReader
{
  public:
    using CFormatReader::CFormatReader;
    bool Read()
    {
        for (DWORD dwAt = 0, i = 0; m_in.Holds(dwAt, kEntryBytes); dwAt += kEntryBytes, ++i)
        {
            WORD wFlags = 0, wId = 0;
            m_in.Read16(dwAt, wFlags);
            m_in.Read16(dwAt + 4, wId);
            Field(dwAt, kEntryBytes, "entry " + std::to_string(i) + ", id " + HexNumber(wId, 4));
            if ((wFlags & kAccelEnd) || m_visitor.Full())
                break;
        }
        return true;
    }
};
} // namespace

bool ReadAcceleratorFormat(const ResourceSource& source, CResourceVisitor& visitor)
{
    return CAcceleratorReader(source, visitor).Read();
}
