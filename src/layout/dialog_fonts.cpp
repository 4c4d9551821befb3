#include "layout/dialog_fonts.h"

namespace
{
const DialogFontMetrics kDialogFonts[] = {
#include "layout/dialog_font_metrics.inc"
    {nullptr, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, {0}},
};

bool SameFace(const std::u16string& ws, const char16_t* wsOther)
{
    size_t i = 0;
    for (; i < ws.size() && wsOther[i] != 0; ++i)
    {
        char16_t a = ws[i], b = wsOther[i];
        if (a >= u'a' && a <= u'z')
            a = static_cast<char16_t>(a - 0x20);
        if (b >= u'a' && b <= u'z')
            b = static_cast<char16_t>(b - 0x20);
        if (a != b)
            return false;
    }
    return i == ws.size() && wsOther[i] == 0;
}
} // namespace

const DialogFontMetrics* FindDialogFont(const std::u16string& wsFace, int iPoint, int iWeight)
{
    const int iNearest = iWeight >= 550 ? 700 : 400;
    for (const DialogFontMetrics& font : kDialogFonts)
        if (font.wsFace != nullptr && font.iPoint == iPoint && font.iWeight == iNearest &&
            SameFace(wsFace, font.wsFace))
            return &font;
    return nullptr;
}
