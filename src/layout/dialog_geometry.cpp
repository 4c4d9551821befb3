#include "layout/dialog_geometry.h"

#include "image/resource_format.h"

#include <cstdlib>

namespace
{
const WORD kDialogSetFont = 0x40;
const DWORD kBorder = 0x00800000, kExClientEdge = 0x200;

int Read16(const BYTE* p)
{
    return static_cast<short>(p[0] | p[1] << 8);
}

DWORD Read32(const BYTE* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24;
}

// The control a label such as "control 3, text" names, or -1.
int ControlOf(const std::string& sLabel, std::string& sRest)
{
    const std::string kControl = "control ";
    if (sLabel.compare(0, kControl.size(), kControl) != 0)
        return -1;
    char* pEnd = nullptr;
    long i = std::strtol(sLabel.c_str() + kControl.size(), &pEnd, 10);
    sRest = *pEnd == ',' ? std::string(pEnd + 2) : std::string();
    return static_cast<int>(i);
}

// The dialog reader's labels, read back into the geometry: every field it
// names lies at a known offset in the template.
class CGeometrySink : public CResourceVisitor
{
  public:
    CGeometrySink(const BYTE* pData, DWORD cb, DialogGeometry& geometry)
        : m_pData(pData), m_cb(cb), m_geometry(geometry)
    {
    }

    void Field(DWORD dwAt, DWORD cb, const std::string& sLabel) override;
    bool Text(const ResourceTextAt& text, std::u16string& ws) override;
    bool Fault(const std::string& sReason) override
    {
        m_sReason = sReason;
        return false;
    }
    bool Spend(DWORD) override { return true; }
    bool Full() const override { return false; }
    std::vector<BYTE>* Output() override { return nullptr; }

    std::string m_sReason;

  private:
    DialogControl& Control(int i)
    {
        while (m_geometry.controls.size() <= static_cast<size_t>(i))
            m_geometry.controls.push_back(
                {static_cast<UINT>(m_geometry.controls.size()), 0, {}, 0, 0, {0, 0, 0, 0}, 0, false, {}});
        return m_geometry.controls[i];
    }

    const BYTE* m_pData;
    DWORD m_cb;
    DialogGeometry& m_geometry;
};

void CGeometrySink::Field(DWORD dwAt, DWORD cb, const std::string& sLabel)
{
    const BYTE* p = m_pData + dwAt;
    if (dwAt + cb > m_cb)
        return;
    std::string sRest;
    const int i = ControlOf(sLabel, sRest);
    if (sLabel == "header")
    {
        m_geometry.fEx = Read16(p) == 1 && Read16(p + 2) == -1;
        m_geometry.dwStyle = Read32(p + (m_geometry.fEx ? 12 : 0));
        m_geometry.fSetFont = (m_geometry.dwStyle & kDialogSetFont) != 0;
        m_geometry.dwRectAt = m_geometry.fEx ? 18 : 10;
        const BYTE* q = m_pData + m_geometry.dwRectAt;
        m_geometry.rect = {Read16(q), Read16(q + 2), Read16(q + 4), Read16(q + 6)};
        m_geometry.wWeight = 400;
    }
    else if (sLabel == "font size")
    {
        m_geometry.wPoint = static_cast<WORD>(Read16(p));
        if (cb >= 6)
        {
            m_geometry.wWeight = static_cast<WORD>(Read16(p + 2));
            m_geometry.fItalic = p[4] != 0;
        }
    }
    else if (i >= 0 && sRest == "style and position")
    {
        DialogControl& control = Control(i);
        const DWORD dwRect = m_geometry.fEx ? 12 : 8;
        control.dwExStyle = Read32(p + (m_geometry.fEx ? 4 : 4));
        control.dwStyle = Read32(p + (m_geometry.fEx ? 8 : 0));
        // The dialog manager gives a DIALOG's bordered control a sunken edge instead.
        if (!m_geometry.fEx && (control.dwStyle & kBorder))
        {
            control.dwStyle &= ~kBorder;
            control.dwExStyle |= kExClientEdge;
        }
        control.dwRectAt = dwAt + dwRect;
        const BYTE* q = p + dwRect;
        control.rect = {Read16(q), Read16(q + 2), Read16(q + 4), Read16(q + 6)};
    }
    else if (i >= 0 && sRest == "class (ordinal)")
        Control(i).dwClass = static_cast<DWORD>(Read16(p + 2)) & 0xFFFF;
}

bool CGeometrySink::Text(const ResourceTextAt& text, std::u16string& ws)
{
    std::string sRest;
    const int i = ControlOf(text.sLabel, sRest);
    if (text.sLabel == "font name")
        m_geometry.wsFace = ws;
    else if (i >= 0 && sRest == "class")
    {
        DialogControl& control = Control(i);
        control.wsClass = ws;
        for (char16_t& w : control.wsClass)
            if (w >= u'a' && w <= u'z')
                w = static_cast<char16_t>(w - 0x20);
    }
    else if (i >= 0 && sRest == "text")
    {
        Control(i).fHasText = true;
        Control(i).wsText = ws;
    }
    return true;
}

void Put16(std::vector<BYTE>& data, DWORD dwAt, int v)
{
    data[dwAt] = static_cast<BYTE>(v);
    data[dwAt + 1] = static_cast<BYTE>(v >> 8);
}

void PutRect(std::vector<BYTE>& data, DWORD dwAt, const DialogRect& rect)
{
    if (dwAt == 0 || dwAt + 8 > data.size())
        return;
    Put16(data, dwAt, rect.x);
    Put16(data, dwAt + 2, rect.y);
    Put16(data, dwAt + 4, rect.cx);
    Put16(data, dwAt + 6, rect.cy);
}
} // namespace

int ReadDialogGeometry(const BYTE* pData, DWORD cb, DialogGeometry& geometry, std::string& sReason)
{
    geometry = DialogGeometry();
    CGeometrySink sink(pData, cb, geometry);
    const ResourceId type = {false, 5, {}}, name = {false, 0, {}};
    if (!ReadDialogFormat({pData, cb, type, name, 0}, sink))
    {
        sReason = sink.m_sReason;
        return 0;
    }
    return 1;
}

void WriteDialogRects(const DialogGeometry& geometry, std::vector<BYTE>& data)
{
    PutRect(data, geometry.dwRectAt, geometry.rect);
    for (const DialogControl& control : geometry.controls)
        PutRect(data, control.dwRectAt, control.rect);
}
