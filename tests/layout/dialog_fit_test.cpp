// Dialogs built as DIALOGEX templates, judged in the MS Shell Dlg 8 font Wine
// draws them in under zh_CN and made room in: free room first, then the row
// (or column), then everything beyond; never a new overlap, a control outside
// its dialog or a dialog past the screen; a dialog whose texts fit unchanged.
#include "layout/dialog_fit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
const DWORD kPush = 0x50010000, kCheck = 0x50010003, kGroup = 0x50000007, kLabel = 0x50020000;
const WORD kButton = 0x80, kStatic = 0x82;

struct Control
{
    WORD wClass;
    DWORD dwStyle;
    DialogRect rect;
    std::u16string wsText;
};

void Put16(std::vector<BYTE>& b, DWORD v)
{
    b.push_back(static_cast<BYTE>(v));
    b.push_back(static_cast<BYTE>(v >> 8));
}

void Put32(std::vector<BYTE>& b, DWORD v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

void PutText(std::vector<BYTE>& b, const std::u16string& ws)
{
    for (char16_t w : ws)
        Put16(b, w);
    Put16(b, 0);
}

std::vector<BYTE> Template(int cx, int cy, const std::vector<Control>& controls)
{
    std::vector<BYTE> b;
    Put16(b, 1);
    Put16(b, 0xFFFF);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0x80C800C8); // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
    Put16(b, static_cast<DWORD>(controls.size()));
    for (int v : {0, 0, cx, cy})
        Put16(b, static_cast<DWORD>(v));
    Put16(b, 0);
    Put16(b, 0);
    PutText(b, u"Dialog");
    Put16(b, 8);
    Put16(b, 400);
    Put16(b, 0x0100);
    PutText(b, u"MS Shell Dlg");
    for (const Control& control : controls)
    {
        while (b.size() % 4 != 0)
            b.push_back(0);
        Put32(b, 0);
        Put32(b, 0);
        Put32(b, control.dwStyle);
        for (int v : {control.rect.x, control.rect.y, control.rect.cx, control.rect.cy})
            Put16(b, static_cast<DWORD>(v));
        Put32(b, 100);
        Put16(b, 0xFFFF);
        Put16(b, control.wClass);
        PutText(b, control.wsText);
        Put16(b, 0);
    }
    return b;
}

std::string Rects(const DialogGeometry& geometry)
{
    std::string s = std::to_string(geometry.rect.cx) + "x" + std::to_string(geometry.rect.cy);
    for (const DialogControl& control : geometry.controls)
        s += " " + std::to_string(control.rect.x) + "," + std::to_string(control.rect.y) + "," +
             std::to_string(control.rect.cx) + "," + std::to_string(control.rect.cy);
    return s;
}

bool Overlap(const DialogRect& a, const DialogRect& b)
{
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}
} // namespace

TEST(DialogFit, EachTextGetsRoomAndNothingElseBreaks)
{
    const std::u16string kLong = u"以只读方式打开文件(&R)";
    struct Case
    {
        const char* szName;
        int cx, cy;
        std::vector<Control> controls;
        const char* szAfter; // dialog size and control rectangles after the fit
        size_t cClipped, cRefused;
    } cases[] = {
        {"texts that fit keep every coordinate",
         200,
         60,
         {{kButton, kPush, {10, 10, 50, 14}, u"确定"}, {kStatic, kLabel, {10, 30, 80, 8}, u"名称："}},
         "200x60 10,10,50,14 10,30,80,8",
         0,
         0},
        // 以只读方式打开文件(R): 9 ideographs of 11 px and 12 px of "(R)"; a
        // check box leaves 13 + 6 / 2 + 1 px: 128 px are 85 dialog units.
        {"free room to the right",
         200,
         60,
         {{kButton, kCheck, {10, 10, 40, 10}, kLong}},
         "200x60 10,10,85,10",
         1,
         0},
        {"a neighbour in the row moves over, the row below stays, the dialog grows",
         130,
         60,
         {{kButton, kCheck, {10, 10, 40, 10}, kLong},
          {kButton, kPush, {60, 8, 50, 14}, u"浏览"},
          {kButton, kPush, {60, 30, 50, 14}, u"取消"}},
         "175x60 10,10,85,10 105,8,50,14 60,30,50,14",
         1,
         0},
        {"the group box around it grows with it",
         140,
         60,
         {{kButton, kGroup, {5, 5, 70, 40}, u"选项"}, {kButton, kCheck, {10, 20, 40, 10}, kLong}},
         "185x60 5,5,115,40 10,20,85,10",
         1,
         0},
        {"a group box that moves over takes what it holds along",
         200,
         80,
         {{kStatic, kLabel, {7, 9, 30, 8}, u"图像文件名称："},
          {kButton, kGroup, {40, 5, 150, 70}, u"选项"},
          {kButton, kCheck, {46, 40, 60, 10}, u"启用"}},
         "221x80 7,9,51,8 61,5,150,70 67,40,60,10",
         1,
         0},
        {"a control of no size stays hidden",
         120,
         40,
         {{kButton, kCheck, {10, 10, 0, 0}, kLong}},
         "120x40 10,10,0,0",
         0,
         0},
        {"what lies far outside never moves past 16 bits",
         80,
         40,
         {{kButton, kCheck, {10, 10, 40, 10}, kLong}, {kButton, kPush, {32700, 8, 50, 14}, u"浏览"}},
         "80x40 10,10,40,10 32700,8,50,14",
         1,
         1},
        {"a wrapping label grows down and what is below it moves down",
         120,
         60,
         {{kStatic, kLabel, {10, 10, 60, 16}, u"这是一段很长的说明文字，它会在多行之中换行显示出来。"},
          {kButton, kPush, {10, 30, 50, 14}, u"确定"}},
         "120x76 10,10,60,32 10,46,50,14",
         1,
         0},
        {"no dialog wider than the screen",
         600,
         60,
         {{kButton, kPush, {10, 10, 560, 14}, std::u16string(110, u'汉')}},
         "600x60 10,10,560,14",
         1,
         1},
    };
    for (const Case& c : cases)
    {
        const std::vector<BYTE> data = Template(c.cx, c.cy, c.controls);
        DialogGeometry geometry;
        std::string sReason;
        ASSERT_EQ(1, ReadDialogGeometry(data.data(), static_cast<DWORD>(data.size()), geometry, sReason))
            << c.szName << ": " << sReason;
        ASSERT_EQ(c.controls.size(), geometry.controls.size()) << c.szName;
        const DialogJudgement judgement = JudgeDialog(geometry, std::vector<bool>(c.controls.size(), true));
        ASSERT_NE(nullptr, judgement.pFont) << c.szName;
        EXPECT_EQ(c.cClipped, judgement.clipped.size()) << c.szName;
        const DialogGeometry before = geometry;
        const DialogFit fit = FitDialog(geometry, judgement);
        EXPECT_EQ(c.szAfter, Rects(geometry)) << c.szName;
        EXPECT_EQ(c.cRefused, fit.refused.size()) << c.szName;
        if (c.cRefused == 0)
        {
            EXPECT_TRUE(JudgeDialog(geometry, std::vector<bool>(c.controls.size(), true)).clipped.empty())
                << c.szName;
        }
        for (size_t i = 0; i < geometry.controls.size(); ++i)
            for (size_t j = i + 1; j < geometry.controls.size(); ++j)
                EXPECT_FALSE(Overlap(geometry.controls[i].rect, geometry.controls[j].rect) &&
                             !Overlap(before.controls[i].rect, before.controls[j].rect))
                    << c.szName << ": controls " << i << " and " << j;

        // The rectangles go back where they were read from, and read back the same.
        std::vector<BYTE> written = data;
        WriteDialogRects(geometry, written);
        DialogGeometry again;
        ASSERT_EQ(1, ReadDialogGeometry(written.data(), static_cast<DWORD>(written.size()), again, sReason));
        EXPECT_EQ(Rects(geometry), Rects(again)) << c.szName;
        EXPECT_EQ(data.size(), written.size());
    }
}
