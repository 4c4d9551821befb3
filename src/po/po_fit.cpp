#include "po/po_fit.h"

#include "image/resource_format.h"
#include "layout/dialog_fit.h"
#include "po/po_plan.h"
#include "port/utf8.h"

namespace
{
const WORD kDialogType = 5;

std::string Rect(const DialogRect& r)
{
    return "(" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.cx) + ", " +
           std::to_string(r.cy) + ")";
}

std::string ClippedLine(const std::string& sContext, const DialogControl& control,
                        const ClippedControl& clipped, const DialogFontMetrics& font)
{
    int cx = 0, cy = 0;
    const bool fSize = LeastFittingSize(control, font, cx, cy);
    std::string s = sContext + " " + ShownQuoted(Utf16ToUtf8(control.wsText)) + ": needs ";
    TextFit fit = clipped.fit;
    // A text that wraps in a control of one line needs its whole width.
    if (fit.fOneLine && fSize)
        fit.cxNeeded = FitText(control, control.wsText, cx, control.rect.cy, font).cxNeeded;
    if (fit.cxNeeded > fit.cxRoom || fit.fOneLine)
        s += (fSize ? std::to_string(cx) + " dialog units (" : std::string("(")) +
             std::to_string(fit.cxNeeded) + " px of text) of width, has " + std::to_string(control.rect.cx) +
             " (" + std::to_string(fit.cxRoom) + " px of room)";
    else
        s += std::to_string(fit.cyNeeded / font.cyHeight) + " lines, " +
             (fSize ? std::to_string(cy) + " dialog units (" : std::string("(")) +
             std::to_string(fit.cyNeeded) + " px) of height, has " + std::to_string(control.rect.cy) + " (" +
             std::to_string(fit.cyRoom) + " px)";
    return s;
}
} // namespace

void FitTranslatedDialogs(const std::vector<ResourceEntry>& entries,
                          std::vector<TranslatedResource>& translated,
                          const std::map<std::string, std::string>& translations, bool fFit,
                          DialogFitFindings& findings)
{
    const std::string kForm = "FORM ";
    for (const auto& translation : translations)
    {
        const size_t cName = translation.first.find(" / ");
        if (translation.first.compare(0, kForm.size(), kForm) == 0 && cName != std::string::npos &&
            (findings.forms.empty() || findings.forms.back() != translation.first.substr(0, cName)))
            findings.forms.push_back(translation.first.substr(0, cName));
    }
    for (TranslatedResource& resource : translated)
    {
        const ResourceEntry& entry = entries[resource.uEntry];
        if (entry.type.fNamed || entry.type.wId != kDialogType)
            continue;
        const std::string sDialog = "DIALOG " + ResourceIdName(entry.name);
        DialogGeometry geometry;
        std::string sReason;
        if (!ReadDialogGeometry(resource.data.data(), static_cast<DWORD>(resource.data.size()), geometry,
                                sReason))
            continue;
        std::vector<bool> judged(geometry.controls.size());
        bool fAny = false;
        for (size_t i = 0; i < judged.size(); ++i)
        {
            judged[i] = translations.count(sDialog + " / control " + std::to_string(i)) != 0;
            fAny = fAny || judged[i];
        }
        if (!fAny)
            continue;
        const DialogJudgement judgement = JudgeDialog(geometry, judged);
        findings.cSkipped += judgement.cSkipped;
        if (judgement.pFont == nullptr)
        {
            findings.unmeasured.push_back(sDialog + " (" +
                                          (geometry.fSetFont ? Utf16ToUtf8(geometry.wsFace) + " " +
                                                                   std::to_string(geometry.wPoint) + " pt"
                                                             : std::string("the system font")) +
                                          ")");
            continue;
        }
        for (const ClippedControl& clipped : judgement.clipped)
            findings.clipped.push_back(ClippedLine(sDialog + " / control " + std::to_string(clipped.uIndex),
                                                   geometry.controls[clipped.uIndex], clipped,
                                                   *judgement.pFont));
        if (!fFit || judgement.clipped.empty())
            continue;
        const DialogFit fit = FitDialog(geometry, judgement);
        for (const std::string& sRefused : fit.refused)
            findings.refused.push_back(sDialog + " / " + sRefused);
        if (fit.changes.empty())
            continue;
        std::string sLine = sDialog + ":";
        for (const RectChange& change : fit.changes)
            sLine += change.uIndex == kDialogItself
                         ? " the dialog " + std::to_string(change.before.cx) + " x " +
                               std::to_string(change.before.cy) + " -> " + std::to_string(change.after.cx) +
                               " x " + std::to_string(change.after.cy) + ";"
                         : " control " + std::to_string(change.uIndex) + " " + Rect(change.before) + " -> " +
                               Rect(change.after) + ";";
        sLine.pop_back();
        findings.changes.push_back(sLine);
        WriteDialogRects(geometry, resource.data);
    }
}
