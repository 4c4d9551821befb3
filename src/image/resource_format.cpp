#include "image/resource_format.h"

#include "image/resource_names.h"
#include "port/utf8.h"

namespace
{
const ResourceFormat kResourceFormats[] = {
    {4, nullptr, nullptr, true, ReadMenuFormat},           // MENU, MENUEX
    {5, nullptr, nullptr, true, ReadDialogFormat},         // DIALOG, DIALOGEX
    {6, "block", nullptr, true, ReadStringTableFormat},    // STRINGTABLE
    {9, nullptr, nullptr, false, ReadAcceleratorFormat},   // ACCELERATORS
    {10, nullptr, "FORM", true, ReadFormFormat},           // RCDATA
    {11, nullptr, nullptr, false, ReadMessageTableFormat}, // MESSAGETABLE
    {16, nullptr, nullptr, true, ReadVersionFormat},       // VERSIONINFO
};
} // namespace

const ResourceFormat* FindResourceFormat(WORD wType)
{
    for (const ResourceFormat& format : kResourceFormats)
        if (format.wType == wType)
            return &format;
    return nullptr;
}

std::string ResourceIdName(const ResourceId& id)
{
    return id.fNamed ? Utf16ToUtf8(id.name) : std::to_string(id.wId);
}

ResourceTextAt MapText(const std::string& sLabel)
{
    ResourceTextAt text;
    text.dwAt = 0;
    text.cbText = 0;
    text.fTerminated = false;
    text.fWide = true;
    text.sLabel = sLabel;
    text.fCounted = false;
    return text;
}

CFormatReader::CFormatReader(const ResourceSource& source, CResourceVisitor& visitor)
    : m_in(source.pData, 0, source.cb), m_pData(source.pData), m_visitor(visitor), m_pOut(visitor.Output()),
      m_sName(ResourceIdName(source.name)), m_sLang(LanguageName(source.wLang))
{
}

bool CFormatReader::Copy(DWORD& dwAt, DWORD cb)
{
    if (!m_in.Holds(dwAt, cb))
        return Stop("the data ends inside a field at " + HexNumber(dwAt, 4));
    if (m_pOut != nullptr)
        m_pOut->insert(m_pOut->end(), m_pData + dwAt, m_pData + dwAt + cb);
    dwAt += cb;
    return true;
}

void CFormatReader::Append(const std::u16string& ws, bool fTerminated)
{
    if (m_pOut == nullptr)
        return;
    for (char16_t w : ws)
    {
        m_pOut->push_back(static_cast<BYTE>(w));
        m_pOut->push_back(static_cast<BYTE>(w >> 8));
    }
    if (fTerminated)
        m_pOut->insert(m_pOut->end(), 2, 0);
}

void CFormatReader::Put16(size_t at, DWORD w)
{
    if (m_pOut == nullptr)
        return;
    (*m_pOut)[at] = static_cast<BYTE>(w);
    (*m_pOut)[at + 1] = static_cast<BYTE>(w >> 8);
}

void CFormatReader::PadOut()
{
    while (m_pOut != nullptr && m_pOut->size() % 4 != 0)
        m_pOut->push_back(0);
}

void CFormatReader::Tail(DWORD dwFrom, DWORD dwEnd, bool fInGap)
{
    if (m_pOut == nullptr)
        return;
    if (fInGap && dwFrom < dwEnd && m_pOut->size() % 4 != dwFrom % 4)
    {
        PadOut();
        return;
    }
    bool fPadding = dwFrom < dwEnd && dwEnd - dwFrom < 4 && dwEnd % 4 == 0;
    for (DWORD dw = dwFrom; dw < dwEnd && fPadding; ++dw)
        fPadding = m_in.At(dw) == 0;
    if (fPadding)
        PadOut();
    else if (dwFrom < dwEnd)
        m_pOut->insert(m_pOut->end(), m_pData + dwFrom, m_pData + dwEnd);
}

std::u16string CFormatReader::Units(DWORD dwAt, DWORD cUnits) const
{
    std::u16string ws(cUnits, 0);
    for (DWORD i = 0; i < cUnits; ++i)
    {
        WORD w = 0;
        m_in.Read16(dwAt + 2 * i, w);
        ws[i] = w;
    }
    return ws;
}

bool CFormatReader::ZeroText(DWORD& dwAt, DWORD dwEnd, ResourceTextAt& text, std::u16string& ws)
{
    CImageBytes bytes = m_in.Sub(dwAt, dwEnd);
    bool fTerminated = false;
    DWORD cUnits = bytes.WideLength(dwAt, fTerminated);
    ws = Units(dwAt, cUnits);
    text.dwAt = dwAt;
    text.cbText = cUnits * 2;
    text.fTerminated = fTerminated;
    text.fWide = true;
    if (!fTerminated)
    {
        text.sContext.clear();
        m_visitor.Text(text, ws);
        return Stop("a text at " + HexNumber(dwAt, 4) + " has no terminator");
    }
    dwAt += 2 * cUnits + 2;
    return m_visitor.Text(text, ws);
}
