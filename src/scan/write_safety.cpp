#include "scan/write_safety.h"

namespace
{
// The loader and the resource readers take these bytes as structure, so no
// change to them is a translation.
std::string StructureReason(ImageByteKind kind, const std::string& sLabel)
{
    switch (kind)
    {
    case kByteHeader:
        return "changes the PE headers (" + sLabel + "), which the loader reads";
    case kByteSectionTable:
        return "changes the section table (" + sLabel + "): the section's name and layout";
    case kByteDirectory:
        return "changes directory data (" + sLabel + "), which the loader reads";
    case kByteImportName:
        return "changes an import name (" + sLabel + "): the loader finds the DLL or function by it";
    case kByteExportName:
        return "changes an export name (" + sLabel + "): other modules find the function by it";
    case kByteRelocation:
        return "changes base relocation data (" + sLabel + "): the loader would patch wrong addresses";
    case kByteResourceField:
        return "EN spans a field boundary: changes " + sLabel +
               " (a glued id, length or flag), which CN does not keep";
    default:
        return std::string();
    }
}

bool IsPrintableUnit(const BYTE* p, DWORD cbUnit)
{
    if (cbUnit == 1)
        return p[0] >= 0x20 && p[0] != 0x7F && p[0] != 0xFF;
    unsigned u = p[0] | static_cast<unsigned>(p[1]) << 8;
    return u >= 0x20 && !(u >= 0x7F && u < 0xA0) && u < 0xFFFE;
}
} // namespace

bool JudgeWrite(const CImageMap& map, const BYTE* pView, DWORD cbView, DWORD dwAt, const BYTE* pOld, DWORD cb,
                UnsafeWrite& unsafe)
{
    for (DWORD dw = dwAt; dw < dwAt + cb && dw < cbView; ++dw)
    {
        ImageByteInfo info = map.Lookup(dw);
        const std::string sLabel = info.psLabel != nullptr ? *info.psLabel : std::string();
        const bool fChanged = pOld[dw - dwAt] != pView[dw];
        std::string sReason;
        if (info.pText != nullptr && (info.pText->fTerminated || info.pText->fPaddingShows))
        {
            // The reader stops at the first zero unit and takes what follows
            // as the next fields; a count-prefixed text has no such end, but
            // a form string's count is what the program shows, zeros and all.
            const ImageText& text = *info.pText;
            const DWORD cbUnit = text.fWide ? 2 : 1;
            const DWORD dwTextEnd = text.dwStart + text.cbText;
            if (dw >= dwTextEnd)
            {
                if (fChanged)
                    sReason = "changes the zero that ends " + sLabel +
                              ": the text runs on into the fields after it";
            }
            else
            {
                DWORD dwUnit = dw - (dw - text.dwStart) % cbUnit;
                bool fZeroNow = true, fZeroBefore = true;
                for (DWORD k = dwUnit; k < dwUnit + cbUnit && k < cbView; ++k)
                {
                    BYTE bBefore = k >= dwAt && k < dwAt + cb ? pOld[k - dwAt] : pView[k];
                    fZeroNow = fZeroNow && pView[k] == 0;
                    fZeroBefore = fZeroBefore && bBefore == 0;
                }
                if (fZeroNow && !fZeroBefore && !text.fTerminated)
                    sReason = "zero padding inside the length-prefixed form string " + sLabel +
                              ": its length stays, so the program shows the zeros (a CN of exactly EN's "
                              "length is safe)";
                else if (fZeroNow && !fZeroBefore)
                    sReason =
                        "zero padding inside the zero-terminated text " + sLabel +
                        ": the text ends early and its rest is read as the next fields (a CN of exactly "
                        "EN's length is safe)";
            }
        }
        else if (fChanged)
            sReason = StructureReason(info.kind, sLabel);
        if (!sReason.empty())
        {
            unsafe = {dwAt, dw, sReason};
            return true;
        }
    }
    return false;
}

bool InsideLongerText(const CImageMap& map, const BYTE* pBytes, DWORD cbBytes, DWORD dwAt, DWORD cb,
                      DWORD cbUnit)
{
    if (cb == 0 || dwAt >= cbBytes || cb > cbBytes - dwAt)
        return false;
    ImageByteInfo first = map.Lookup(dwAt), last = map.Lookup(dwAt + cb - 1);
    if (first.pText != nullptr || last.pText != nullptr)
        return (first.pText != nullptr && dwAt > first.pText->dwStart) ||
               (last.pText != nullptr && dwAt + cb < last.pText->dwStart + last.pText->cbText);
    // A glued id or length next to a text may look printable; it is no text.
    bool fBefore = dwAt >= cbUnit && map.Lookup(dwAt - cbUnit).kind != kByteResourceField &&
                   IsPrintableUnit(pBytes + dwAt - cbUnit, cbUnit);
    bool fAfter = cbBytes - (dwAt + cb) >= cbUnit && map.Lookup(dwAt + cb).kind != kByteResourceField &&
                  IsPrintableUnit(pBytes + dwAt + cb, cbUnit);
    return fBefore || fAfter;
}
