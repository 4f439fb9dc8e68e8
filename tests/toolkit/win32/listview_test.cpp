// The list view on the real control: the shared cases, and the hooks of a
// subclassed list (real mouse and key messages, reflected custom draw seen on
// screen, column clicks).
#include <gtest/gtest.h>

#include <algorithm>

#include "../listview_cases.h"
#include "win32_test_support.h"

namespace {

using tktest::TestDialog;

constexpr int kList = 1005;

tk::DialogTemplate ListTemplate() {
  return tktest::MakeTemplate("List", {tk::ListView(kList, {7, 7, 293, 150}).Style(tk::LVS_SHOWSELALWAYS)},
                              {0, 0, 300, 160});
}

// A list whose hooks record what reached them.
class HookedList : public tk::CListCtrl {
 public:
  std::vector<std::string> log;
  std::vector<tk::DWORD> drawStages;
  bool swallowSpace = true;
  bool callDefaultOnClick = true;
  tk::COLORREF cellBack = tk::RGB(255, 0, 0);
  tk::CPoint lastPoint;
  int columnClicked = -1;

 protected:
  void PreSubclassWindow() override { log.push_back("presubclass"); }
  bool OnMouseMessage(tk::UINT msg, tk::UINT keyFlags, tk::CPoint point) override {
    log.push_back("mouse " + std::to_string(msg));
    lastPoint = point;
    if (callDefaultOnClick) DefaultMouseMessage(msg, keyFlags, point);
    return true;
  }
  bool OnKeyDown(tk::UINT key) override {
    log.push_back("key " + std::to_string(key));
    return swallowSpace && key == tk::VK_SPACE;
  }
  bool OnReflectedNotify(tk::Notification& n, tk::LRESULT& result) override {
    if (n.code == tk::LVN_COLUMNCLICK) {
      columnClicked = n.subItem;
      result = 0;
      return true;
    }
    if (n.code != tk::NM_CUSTOMDRAW) return false;
    drawStages.push_back(n.drawStage);
    if (n.drawStage == tk::CDDS_PREPAINT) {
      result = tk::CDRF_NOTIFYITEMDRAW;
    } else if (n.drawStage == tk::CDDS_ITEMPREPAINT) {
      result = tk::CDRF_NOTIFYSUBITEMDRAW;
    } else if (n.drawStage == (tk::CDDS_ITEMPREPAINT | tk::CDDS_SUBITEM)) {
      n.textColor = tk::RGB(0, 0, 255);
      n.textBkColor = n.subItem == 1 ? cellBack : tk::RGB(255, 255, 255);
      result = tk::CDRF_NEWFONT;
    }
    return true;
  }
};

void FillColumns(tk::CListCtrl& list) {
  list.InsertColumn(0, "No", tk::LVCFMT_LEFT, 40);
  list.InsertColumn(1, "Device Name", tk::LVCFMT_CENTER, 120);
  list.InsertColumn(2, "IP Address", tk::LVCFMT_RIGHT, 100);
}

// Runs one shared table on the real control inside an open dialog.
void RunOnTheControl(void (*cases)(tk::CListCtrl&)) {
  const tk::DialogTemplate t = ListTemplate();
  TestDialog dlg(t);
  dlg.script = [&](TestDialog& d) {
    tk::CListCtrl list(d.GetDlgItem(kList).GetSafeHwnd());
    cases(list);
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
}

TEST(ListView, ItemsCellsColumnsAndLooks) {
  RunOnTheControl(tktest::RunListEditCases);
}

TEST(ListView, SelectionFocusAndCheckBoxes) {
  RunOnTheControl(tktest::RunListStateCases);
}

TEST(ListView, HitTestsByCell) {
  RunOnTheControl(tktest::RunListHitCases);
}

TEST(ListViewHooks, MouseAndKeysReachTheSubclassedListFirst) {
  const tk::DialogTemplate t = ListTemplate();
  TestDialog dlg(t);
  HookedList list;
  std::vector<std::pair<int, int>> clicks;  // (item, sub-item) of NM_CLICK at the dialog
  dlg.notify = [&](int id, tk::Notification& n, tk::LRESULT&) {
    if (id == kList && n.code == tk::NM_CLICK) clicks.emplace_back(n.item, n.subItem);
    return false;
  };
  bool checkAfterSpace = true;
  dlg.script = [&](TestDialog& d) {
    ASSERT_TRUE(list.SubclassDlgItem(kList, &d));
    EXPECT_TRUE(list.IsSubclassed());
    FillColumns(list);
    list.SetExtendedStyle(tk::LVS_EX_CHECKBOXES | tk::LVS_EX_FULLROWSELECT);
    for (int i = 0; i < 3; ++i) list.InsertItem(i, std::to_string(i + 1));
    tk::CRect cell;
    list.GetSubItemRect(2, 1, cell);
    const int x = cell.left + 10;
    const int y = (cell.top + cell.bottom) / 2;
    // The button-up is queued first so the control's click tracking ends at once.
    list.PostMessage(tk::WM_LBUTTONUP, 0, tktest::PackPoint(x, y));
    list.SendMessage(tk::WM_LBUTTONDOWN, 1 /* MK_LBUTTON */, tktest::PackPoint(x, y));
    // The default handling selected the row.
    EXPECT_EQ(list.GetNextItem(-1, tk::LVNI_SELECTED), 2);
    list.SetItemState(2, tk::LVIS_FOCUSED, tk::LVIS_FOCUSED);
    list.SetFocus();
    list.SendMessage(tk::WM_KEYDOWN, tk::VK_SPACE, 0);
    checkAfterSpace = list.GetCheck(2);
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  ASSERT_GE(list.log.size(), 3u);
  EXPECT_EQ(list.log[0], "presubclass");
  EXPECT_EQ(list.log[1], "mouse " + std::to_string(tk::WM_LBUTTONDOWN));
  EXPECT_EQ(list.log.back(), "key " + std::to_string(tk::VK_SPACE));
  EXPECT_FALSE(checkAfterSpace);  // the space bar was swallowed
  EXPECT_FALSE(list.IsWindow());  // unbound when its window went
}

TEST(ListViewHooks, ReflectedCustomDrawColoursTheCell) {
  const tk::DialogTemplate t = ListTemplate();
  TestDialog dlg(t);
  HookedList list;
  tk::COLORREF painted = 0;
  tk::COLORREF other = 0;
  dlg.script = [&](TestDialog& d) {
    ASSERT_TRUE(list.SubclassDlgItem(kList, &d));
    FillColumns(list);
    list.InsertItem(0, "1");
    list.SetItemText(0, 1, "");
    d.ShowWindow(tk::SW_SHOW);  // the modal loop shows it only once idle
    list.Invalidate();
    list.UpdateWindow();
    tk::CRect cell;
    list.GetSubItemRect(0, 1, cell);
    painted = tktest::PixelAt(list.GetSafeHwnd(), cell.right - 4, (cell.top + cell.bottom) / 2);
    list.GetSubItemRect(0, 2, cell);
    other = tktest::PixelAt(list.GetSafeHwnd(), cell.right - 4, (cell.top + cell.bottom) / 2);
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  ASSERT_FALSE(list.drawStages.empty());
  EXPECT_EQ(list.drawStages[0], tk::CDDS_PREPAINT);
  EXPECT_NE(
      std::find(list.drawStages.begin(), list.drawStages.end(), tk::CDDS_ITEMPREPAINT | tk::CDDS_SUBITEM),
      list.drawStages.end());
  EXPECT_EQ(painted, tk::RGB(255, 0, 0));  // the colour written back reached the screen
  EXPECT_EQ(other, tk::RGB(255, 255, 255));
}

TEST(ListViewHooks, HeaderClickArrivesAsReflectedColumnClick) {
  const tk::DialogTemplate t = ListTemplate();
  TestDialog dlg(t);
  HookedList list;
  dlg.script = [&](TestDialog& d) {
    ASSERT_TRUE(list.SubclassDlgItem(kList, &d));
    FillColumns(list);
    tk::CHeaderCtrl header = list.GetHeaderCtrl();
    const int x = 40 + 120 + 30;  // inside the third column
    header.SendMessage(tk::WM_LBUTTONDOWN, 1, tktest::PackPoint(x, 5));
    header.SendMessage(tk::WM_LBUTTONUP, 0, tktest::PackPoint(x, 5));
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(list.columnClicked, 2);
}

TEST(ListViewCreate, PreCreateWindowMayChangeTheStyles) {
  class CreatedList : public tk::CListCtrl {
   protected:
    void PreCreateWindow(tk::DWORD& style, tk::DWORD& exStyle) override {
      style = (style & ~tk::LVS_TYPEMASK) | tk::LVS_REPORT | tk::LVS_NOSORTHEADER;
      exStyle |= tk::WS_EX_CLIENTEDGE;
    }
  };
  const tk::DialogTemplate t = tktest::MakeTemplate("Create", {});
  TestDialog dlg(t);
  CreatedList list;
  tk::DWORD style = 0;
  tk::DWORD exStyle = 0;
  dlg.script = [&](TestDialog& d) {
    ASSERT_TRUE(list.Create(tk::WS_CHILD | tk::WS_VISIBLE | tk::LVS_ICON, {10, 10, 200, 100}, &d, 1234));
    style = list.GetStyle();
    exStyle = list.GetExStyle();
    EXPECT_EQ(d.GetDlgItem(1234).GetSafeHwnd(), list.GetSafeHwnd());
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(style & tk::LVS_TYPEMASK, tk::LVS_REPORT);
  EXPECT_NE(style & tk::LVS_NOSORTHEADER, 0u);
  EXPECT_NE(exStyle & tk::WS_EX_CLIENTEDGE, 0u);
}

}  // namespace
