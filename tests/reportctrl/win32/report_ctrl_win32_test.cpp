// CReportCtrl on the win32 backend, run under Wine: real list-view windows,
// real mouse messages, real custom draw and a real header.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "reportctrl/report_ctrl.h"
#include "tk/dialog.h"

// The platform headers come after the toolkit's: from here on the platform's
// macros (WS_CHILD, RGB, ...) are used unqualified; they have the same values.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#undef SendMessage
#undef PostMessage
#undef GetClientRect
#undef UpdateWindow
#undef SubclassWindow
#undef GetNextItem
#undef GetCheck
#undef SetCheck
#undef DeleteItem
#undef InsertItem
#undef GetItemText
#undef SetItemText

namespace reportctrl {
namespace {

constexpr int kListId = 1000;
constexpr UINT kRunBody = WM_APP + 1;
constexpr DWORD kTemplateListStyle =
    LVS_SMALLICON | LVS_EDITLABELS | LVS_NOSCROLL | LVS_SHOWSELALWAYS | WS_TABSTOP;

struct Report {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Report&) const = default;
};

// Records what the platform's custom draw asked of the control at the sub-item stage.
struct DrawnCell {
  int row;
  int column;
  COLORREF text;
  COLORREF background;
};

class CObservedReport : public CReportCtrl {
 public:
  std::vector<DrawnCell> drawn;

 protected:
  bool OnReflectedNotify(tk::Notification& n, tk::LRESULT& result) override {
    bool handled = CReportCtrl::OnReflectedNotify(n, result);
    if (n.code == static_cast<tk::UINT>(NM_CUSTOMDRAW) && n.drawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) {
      drawn.push_back({n.item, n.subItem, n.textColor, n.textBkColor});
    }
    return handled;
  }
};

// A dialog with one report list; the test body runs once the modal loop runs.
class CHost : public tk::CDialog {
 public:
  explicit CHost(std::function<void(CHost&)> body) : CDialog(Template()), m_body(std::move(body)) {}

  static const tk::DialogTemplate& Template() {
    static const tk::DialogTemplate tmpl = [] {
      tk::DialogTemplate t;
      t.caption = "Report host";
      t.rect = {0, 0, 300, 200};
      t.controls.push_back(tk::ListView(kListId, {5, 5, 295, 195}, kTemplateListStyle));
      return t;
    }();
    return tmpl;
  }

  HWND List() const { return static_cast<HWND>(m_list.GetSafeHwnd()); }

  CObservedReport m_list;
  std::vector<Report> m_reports;

 protected:
  void DoDataExchange(tk::CDataExchange* pDX) override { tk::DDX_Control(pDX, kListId, m_list); }

  tk::BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    PostMessage(kRunBody);
    return TRUE;
  }

  bool OnMessage(tk::UINT msg, tk::WPARAM wParam, tk::LPARAM lParam, tk::LRESULT& result) override {
    result = 0;
    if (msg == kRunBody) {
      m_body(*this);
      EndDialog(IDOK);
      return true;
    }
    if (msg == WM_REPORT_ITEMCLICK || msg == WM_REPORT_SORTED) {
      m_reports.push_back({msg, wParam, lParam});
      return true;
    }
    return false;
  }

 private:
  std::function<void(CHost&)> m_body;
};

void RunInHost(const std::function<void(CHost&)>& body) {
  CHost host(body);
  ASSERT_EQ(host.DoModal(), IDOK);
}

void Fill(CReportCtrl& list, const std::vector<std::string>& rows) {
  ASSERT_TRUE(list.SetColumns("A,80;B,80;C,80"));
  for (const std::string& text : rows) {
    int row = list.InsertRow(list.GetItemCount(), text);
    ASSERT_GE(row, 0);
    list.SetCellText(row, 1, text + "-b");
  }
}

std::vector<std::string> ColumnTexts(const CReportCtrl& list, int column) {
  std::vector<std::string> texts;
  for (int row = 0; row < list.GetItemCount(); ++row) texts.push_back(list.GetCellText(row, column));
  return texts;
}

// A point on a row's check box, found by hit-testing along the row.
bool CheckBoxPoint(HWND list, int row, POINT& point) {
  RECT bounds{};
  bounds.left = LVIR_BOUNDS;
  if (!SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds)))
    return false;
  for (int x = bounds.left; x < bounds.left + 40; ++x) {
    LVHITTESTINFO hit{};
    hit.pt = {x, (bounds.top + bounds.bottom) / 2};
    int item = static_cast<int>(SendMessageA(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (item == row && (hit.flags & LVHT_ONITEMSTATEICON) != 0) {
      point = hit.pt;
      return true;
    }
  }
  return false;
}

void Click(HWND window, POINT p) {
  SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
}

void ClickHeader(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  RECT r{};
  ASSERT_TRUE(
      SendMessageA(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&r)));
  Click(header, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

// ---- styles ---------------------------------------------------------------------------

TEST(ReportCtrlWin32, SubclassedAndCreatedListsGetTheStyleRules) {
  CReportCtrl created;
  RunInHost([&](CHost& host) {
    // The platform owns some bits (the list shows and hides its scroll bars, the
    // dialog turns WS_BORDER into a client edge), so the rules are checked bit by bit.
    const DWORD subclassed = static_cast<DWORD>(GetWindowLongA(host.List(), GWL_STYLE));
    EXPECT_EQ(subclassed & 0x2202u, 0u) << "edit labels, no-scroll and small-icon bits removed";
    EXPECT_EQ(subclassed & LVS_TYPEMASK, static_cast<DWORD>(LVS_REPORT));
    EXPECT_EQ(subclassed & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(subclassed & (LVS_SHOWSELALWAYS | WS_TABSTOP),
              static_cast<DWORD>(LVS_SHOWSELALWAYS | WS_TABSTOP));
    EXPECT_EQ(static_cast<DWORD>(SendMessageA(host.List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)), 0x22u);

    const tk::CRect rect{10, 10, 200, 100};
    ASSERT_TRUE(created.CreateInParent(&host, 2000, &rect, WS_BORDER | LVS_EDITLABELS | LVS_LIST));
    HWND h = static_cast<HWND>(created.GetSafeHwnd());
    const DWORD style = static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE));
    EXPECT_EQ(style & (LVS_EDITLABELS | LVS_NOSCROLL | LVS_TYPEMASK), static_cast<DWORD>(LVS_REPORT));
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(style & WS_BORDER, static_cast<DWORD>(WS_BORDER));
    EXPECT_EQ(SendMessageA(h, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & 0x22, 0x22);
    EXPECT_EQ(GetDlgCtrlID(h), 2000);
  });
}

// ---- check boxes under the mouse and the keyboard ------------------------------------------

TEST(ReportCtrlWin32, CheckBoxesToggleByMouseInFreeModeOnly) {
  RunInHost([](CHost& host) {
    CReportCtrl& list = host.m_list;
    list.SetCheckboxMode(kCheckboxFree);
    Fill(list, {"r0", "r1", "r2"});
    POINT box{};
    ASSERT_TRUE(CheckBoxPoint(host.List(), 1, box));

    Click(host.List(), box);
    EXPECT_TRUE(list.GetCheck(1));
    EXPECT_EQ(host.m_reports, (std::vector<Report>{{WM_REPORT_ITEMCLICK, 1, WM_LBUTTONDOWN}}));
    EXPECT_EQ(list.GetRowStates(1) & (kRowSelected | kRowFocused), kRowSelected | kRowFocused);

    Click(host.List(), box);
    EXPECT_FALSE(list.GetCheck(1));
    EXPECT_EQ(host.m_reports.size(), 2u);

    list.SetCheckboxMode(kCheckboxReadOnly);
    ASSERT_TRUE(CheckBoxPoint(host.List(), 2, box));
    Click(host.List(), box);
    EXPECT_FALSE(list.GetCheck(2)) << "read-only mode puts the box back";
    EXPECT_EQ(host.m_reports.size(), 2u) << "and tells nobody";

    list.SetCheckboxMode(kCheckboxFree);
    list.SetRowStates(0, kRowSelected | kRowFocused);
    SetFocus(host.List());
    SendMessageA(host.List(), WM_KEYDOWN, VK_SPACE, 0);
    SendMessageA(host.List(), WM_KEYUP, VK_SPACE, 0);
    EXPECT_FALSE(list.GetCheck(0)) << "the space bar never toggles a check box";
  });
}

// ---- colours ---------------------------------------------------------------------------------

TEST(ReportCtrlWin32, CellColoursReachTheCustomDrawAndThePixels) {
  RunInHost([](CHost& host) {
    CObservedReport& list = host.m_list;
    Fill(list, {"r0", "r1"});
    const COLORREF pink = RGB(232, 192, 192);
    const COLORREF grey = RGB(220, 220, 220);
    list.SetCellBackColor(1, 2, pink, false);
    list.SetCellBackColor(0, -1, grey, false);
    list.SetCellTextColor(0, 1, RGB(0, 0, 255), false);

    HWND h = host.List();
    RECT client{};
    ::GetClientRect(h, &client);
    HDC screen = GetDC(h);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    list.drawn.clear();
    SendMessageA(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);

    auto drawnCell = [&](int row, int column) -> const DrawnCell* {
      for (const DrawnCell& d : list.drawn) {
        if (d.row == row && d.column == column) return &d;
      }
      return nullptr;
    };
    const DrawnCell* cell = drawnCell(1, 2);
    ASSERT_NE(cell, nullptr) << "the platform asked for the cell's colours";
    EXPECT_EQ(cell->background, pink);
    ASSERT_NE(drawnCell(0, 1), nullptr);
    EXPECT_EQ(drawnCell(0, 1)->background, grey);
    EXPECT_EQ(drawnCell(0, 1)->text, RGB(0, 0, 255));
    ASSERT_NE(drawnCell(1, 0), nullptr);
    EXPECT_EQ(drawnCell(1, 0)->background, GetSysColor(COLOR_WINDOW));

    // The painted cell: a point near its right edge, away from the text.
    RECT r{};
    r.top = 2;
    r.left = LVIR_BOUNDS;
    ASSERT_TRUE(SendMessageA(h, LVM_GETSUBITEMRECT, 1, reinterpret_cast<LPARAM>(&r)));
    EXPECT_EQ(GetPixel(memory, r.right - 4, (r.top + r.bottom) / 2), pink);

    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(h, screen);
  });
}

// ---- sorting ---------------------------------------------------------------------------------

TEST(ReportCtrlWin32, HeaderClickSortsOnlyWhenSortable) {
  RunInHost([](CHost& host) {
    CReportCtrl& list = host.m_list;
    Fill(list, {"10", "9", "A"});
    ASSERT_TRUE(list.SetSortable(false));
    ClickHeader(host.List(), 0);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"10", "9", "A"}));
    EXPECT_TRUE(host.m_reports.empty());

    ASSERT_TRUE(list.SetSortable(true));
    EXPECT_TRUE(list.IsSortable());
    ClickHeader(host.List(), 0);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"9", "A", "10"}));
    EXPECT_EQ(ColumnTexts(list, 1), (std::vector<std::string>{"9-b", "A-b", "10-b"}));
    ClickHeader(host.List(), 0);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"10", "A", "9"}));
    EXPECT_EQ(host.m_reports, (std::vector<Report>{{WM_REPORT_SORTED, 0, 1}, {WM_REPORT_SORTED, 0, 0}}));
  });
}

TEST(ReportCtrlWin32, SortComparesDatesWithThePlatformParser) {
  RunInHost([](CHost& host) {
    CReportCtrl& list = host.m_list;
    Fill(list, {"1/5/2021", "12/31/2020", "2020-06-01"});
    ASSERT_TRUE(list.SetSortable(true));
    list.SortByColumn(0, true);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"2020-06-01", "12/31/2020", "1/5/2021"}));
  });
}

}  // namespace
}  // namespace reportctrl
