// String tables: block n holds the strings (n - 1) * 16 to (n - 1) * 16 + 15,
// each a count and that many units; a string that ends in a zero unit keeps it.
#include "image/resource_format.h"

#include "port/utf8.h"

namespace
{
const UINT kStringsPerBlock = 16;

class CStringTableReader : public CFormatReader
{
  public:
    CStringTableReader(const ResourceSource& source, CResourceVisitor& visitor)
        : CFormatReader(source, visitor), m_name(source.name)
    {
    }
    bool Read();

  private:
    const ResourceId& m_name;
};

bool CStringTableReader::Read()
{
    DWORD dwAt = 0;
    // The loader finds strings by number only: a named block, or block 0, holds none.
    if (m_name.fNamed || m_name.wId == 0)
    {
        Tail(dwAt, m_in.End());
        return true;
    }
    DWORD dwFirst = (m_name.wId - 1u) * kStringsPerBlock;
    for (UINT i = 0; i < kStringsPerBlock; ++i)
    {
        WORD cUnits = 0;
        if (!m_in.Read16(dwAt, cUnits))
            break;
        std::string sString = "string " + HexNumber(static_cast<WORD>(dwFirst + i), 4);
        Field(dwAt, 2, sString + ", length");
        std::string sContext = "STRINGTABLE / " + HexNumber(dwFirst + i, 4);
        if (!m_in.Holds(dwAt + 2, 2u * cUnits))
            return Stop("string " + HexNumber(dwFirst + i, 4) + " runs past the end of its block");
        std::u16string ws = Units(dwAt + 2, cUnits);
        ResourceTextAt text = {dwAt + 2, 2u * cUnits,
                               false,    true,
                               sString,  sContext,
                               sContext, "STRINGTABLE " + m_sLang + ", string " + HexNumber(dwFirst + i, 4),
                               true,     false,
                               ""};
        dwAt += 2 + 2u * cUnits;
        bool fTerminated = !ws.empty() && ws.back() == 0;
        if (fTerminated)
            ws.pop_back();
        if (!m_visitor.Text(text, ws))
            return false;
        size_t cOut = ws.size() + (fTerminated ? 1 : 0);
        if (cOut > 0xFFFF)
            return Stop("the translation of " + sContext + " is longer than a string table holds");
        if (m_pOut != nullptr)
        {
            m_pOut->push_back(static_cast<BYTE>(cOut));
            m_pOut->push_back(static_cast<BYTE>(cOut >> 8));
        }
        Append(ws, fTerminated);
    }
    Tail(dwAt, m_in.End());
    return true;
}
} // namespace

bool ReadStringTableFormat(const ResourceSource& source, CResourceVisitor& visitor)
{
    return CStringTableReader(source, visitor).Read();
}
