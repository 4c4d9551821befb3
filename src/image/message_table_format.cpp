// Message tables: a count of blocks, each a range of ids and the offset of its
// entries; an entry is a length, flags (bit 0: UTF-16) and the text with the
// zeros behind it. The map labels them; the lists leave them out.
#include "image/resource_format.h"

#include "port/utf8.h"

namespace
{
const DWORD kBlockBytes = 12;
const WORD kEntryWide = 1;

class CMessageTableReader : public CFormatReader
{
  public:
    using CFormatReader::CFormatReader;
    bool Read();

  private:
    void Entries(DWORD dwAt, DWORD dwLow, DWORD dwHigh);
};

bool CMessageTableReader::Read()
{
    DWORD cBlocks = 0;
    if (!m_in.Read32(0, cBlocks))
        return Stop("the message table's header is cut short");
    DWORD cMost = m_in.End() / kBlockBytes;
    cBlocks = cBlocks < cMost ? cBlocks : cMost;
    Field(0, 4 + cBlocks * kBlockBytes, "header");
    for (DWORD i = 0; i < cBlocks && !m_visitor.Full(); ++i)
    {
        DWORD dwLow = 0, dwHigh = 0, dwEntries = 0;
        m_in.Read32(4 + i * kBlockBytes, dwLow);
        m_in.Read32(8 + i * kBlockBytes, dwHigh);
        m_in.Read32(12 + i * kBlockBytes, dwEntries);
        if (dwEntries <= m_in.End())
            Entries(dwEntries, dwLow, dwHigh);
    }
    return true;
}

void CMessageTableReader::Entries(DWORD dwAt, DWORD dwLow, DWORD dwHigh)
{
    for (DWORD dwId = dwLow; dwId >= dwLow && dwId <= dwHigh && !m_visitor.Full(); ++dwId)
    {
        WORD cbEntry = 0, wFlags = 0;
        if (!m_in.Read16(dwAt, cbEntry) || !m_in.Read16(dwAt + 2, wFlags) || cbEntry < 4 ||
            !m_in.Holds(dwAt, cbEntry) || !m_visitor.Spend(cbEntry))
            return;
        std::string sMessage = "message " + HexNumber(dwId, 8);
        Field(dwAt, 4, sMessage + ", length and flags");
        // The entry's length counts the text and the zeros behind it; the
        // text itself ends at its first zero unit.
        bool fWide = (wFlags & kEntryWide) != 0;
        CImageBytes entry = m_in.Sub(dwAt + 4, dwAt + cbEntry);
        bool fTerminated = false;
        DWORD cbText =
            fWide ? entry.WideLength(dwAt + 4, fTerminated) * 2 : entry.AnsiLength(dwAt + 4, fTerminated);
        ResourceTextAt text = MapText(sMessage);
        text.dwAt = dwAt + 4;
        text.cbText = cbText;
        text.fWide = fWide;
        std::u16string ws;
        m_visitor.Text(text, ws);
        if (cbText < cbEntry - 4u)
            Field(dwAt + 4 + cbText, cbEntry - 4u - cbText, sMessage + ", padding");
        dwAt += cbEntry;
        if (dwId == 0xFFFFFFFF)
            return;
    }
}
} // namespace

bool ReadMessageTableFormat(const ResourceSource& source, CResourceVisitor& visitor)
{
    return CMessageTableReader(source, visitor).Read();
}
