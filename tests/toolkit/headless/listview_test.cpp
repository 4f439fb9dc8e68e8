// The list view on the headless backend: the shared cases, and the imitation's
// own mouse, keys, header clicks, custom draw and redraw bookkeeping.
#include <string>
#include <vector>

#include "../listview_cases.h"
#include "headless_test.h"
#include "tk/tk.h"

namespace {

using namespace tk;
namespace hl = tk::headless;

constexpr int kList = 1005;

const DialogTemplate& ListTemplate() {
  static const DialogTemplate t{
      "Lists",
      {0, 0, 300, 200},
      WS_POPUP | WS_CAPTION | WS_SYSMENU,
      "MS Shell Dlg",
      8,
      {ListView(kList, {5, 5, 290, 150}), PushButton(IDOK, "OK", {5, 160, 50, 174})}};
  return t;
}

// A subclassed list that can observe or swallow input, like the program's list.
class ProbeList : public CListCtrl {
 public:
  std::vector<UINT> mice;
  bool swallowMouse = false;
  bool swallowSpace = false;
  bool colourCells = false;
  int destroyed = 0;

 protected:
  bool OnMouseMessage(UINT msg, UINT keyFlags, CPoint point) override {
    mice.push_back(msg);
    if (swallowMouse) return true;
    DefaultMouseMessage(msg, keyFlags, point);
    return true;
  }
  bool OnKeyDown(UINT key) override { return swallowSpace && key == VK_SPACE; }
  bool OnReflectedNotify(Notification& n, LRESULT& result) override {
    if (!colourCells || n.code != NM_CUSTOMDRAW) return false;
    if (n.drawStage == CDDS_PREPAINT || n.drawStage == CDDS_ITEMPREPAINT) {
      result = CDRF_NOTIFYSUBITEMDRAW;
    } else {
      n.textColor = RGB(n.item, n.subItem, 1);
      n.textBkColor = RGB(9, 9, 9);
      result = CDRF_DODEFAULT;
    }
    return true;
  }
  void OnDestroy() override { ++destroyed; }
};

struct Seen {
  UINT code;
  int item;
  int subItem;
};

class ListDlg : public CDialog {
 public:
  ListDlg() : CDialog(ListTemplate()) {}
  ProbeList list;
  std::vector<Seen> seen;

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, kList, list); }
  bool OnNotify(int id, Notification& n, LRESULT& result) override {
    if (id != kList) return false;
    seen.push_back({n.code, n.item, n.subItem});
    result = 0;
    return true;
  }
};

class ListViewTest : public HeadlessTest {
 protected:
  // Runs `body` inside an open dialog with a three-column, three-row list.
  void WithList(const std::function<void(ListDlg&)>& body, DWORD exStyle = LVS_EX_FULLROWSELECT) {
    ListDlg dlg;
    hl::ExpectModal("Lists", [&](CWnd& w) {
      CListCtrl& l = dlg.list;
      l.InsertColumn(0, "No", LVCFMT_LEFT, 40);
      l.InsertColumn(1, "Name", LVCFMT_CENTER, 100);
      l.InsertColumn(2, "Port", LVCFMT_RIGHT, 60);
      l.SetExtendedStyle(exStyle);
      for (int r = 0; r < 3; ++r) {
        l.InsertItem(r, std::to_string(r + 1));
        l.SetItemText(r, 1, "dev" + std::to_string(r));
      }
      body(dlg);
      hl::CloseBox(w);
    });
    dlg.DoModal();
    EXPECT_EQ(dlg.list.destroyed, 1);
    EXPECT_FALSE(dlg.list.IsWindow());
  }
};

// The shared tables, also run on the real control by the win32 suite.
TEST_F(ListViewTest, ItemsCellsColumnsAndLooks) {
  WithList([](ListDlg& d) { tktest::RunListEditCases(d.list); });
}

// The imitation answers -1 for a cell never given an image; the real control
// cannot tell that from image 0 and answers 0.
TEST_F(ListViewTest, ACellHasNoImageUntilGivenOne) {
  WithList([](ListDlg& d) { EXPECT_EQ(d.list.GetItemImage(0, 1), -1); });
}

TEST_F(ListViewTest, SelectionFocusAndCheckBoxes) {
  WithList([](ListDlg& d) { tktest::RunListStateCases(d.list); });
}

TEST_F(ListViewTest, HitTestsByCell) {
  WithList([](ListDlg& d) { tktest::RunListHitCases(d.list); });
}

TEST_F(ListViewTest, ClickSelectsFocusesAndNotifiesThroughTheSubclass) {
  WithList([](ListDlg& d) {
    hl::ClickListCell(d.list, 1, 2);
    EXPECT_EQ(d.list.mice, std::vector<UINT>{WM_LBUTTONDOWN});
    EXPECT_EQ(d.list.GetNextItem(-1, LVNI_SELECTED), 1);
    EXPECT_EQ(d.list.GetNextItem(-1, LVNI_FOCUSED), 1);
    EXPECT_EQ(d.list.GetSelectedCount(), 1);
    EXPECT_TRUE(d.list.HasFocus());
    ASSERT_EQ(d.seen.size(), 1u);
    EXPECT_EQ(d.seen[0].code, NM_CLICK);
    EXPECT_EQ(d.seen[0].item, 1);
    EXPECT_EQ(d.seen[0].subItem, 2);
    // A click below the rows or right of the columns selects nothing and reports item -1.
    hl::ClickListCell(d.list, -1, 1);
    EXPECT_EQ(d.list.GetSelectedCount(), 0);
    EXPECT_EQ(d.seen.back().item, -1);
    hl::ClickListCell(d.list, 0, 1);
    hl::ClickListCell(d.list, 0, -1);
    EXPECT_EQ(d.list.GetSelectedCount(), 0);
    EXPECT_EQ(d.seen.back().item, -1);
    hl::ClickListCell(d.list, 0, 0, WM_RBUTTONDOWN);
    EXPECT_EQ(d.seen.back().code, NM_RCLICK);
  });
}

TEST_F(ListViewTest, SwallowedMouseMessageHasNoDefaultEffect) {
  WithList(
      [](ListDlg& d) {
        d.list.swallowMouse = true;
        hl::ClickListCell(d.list, 0, 0);
        EXPECT_FALSE(d.list.GetCheck(0));
        EXPECT_EQ(d.list.GetSelectedCount(), 0);
        EXPECT_TRUE(d.seen.empty());
      },
      LVS_EX_CHECKBOXES);
}

TEST_F(ListViewTest, CheckBoxesLiveInTheStateImageBits) {
  WithList(
      [](ListDlg& d) {
        CListCtrl& l = d.list;
        EXPECT_EQ(l.GetItemState(0, LVIS_STATEIMAGEMASK), 1u << 12);
        hl::ClickListCell(l, 0, 0);
        EXPECT_TRUE(l.GetCheck(0));
        EXPECT_EQ(l.GetItemState(0, LVIS_STATEIMAGEMASK), 2u << 12);
        hl::ClickListCell(l, 0, 1);  // not on the check box
        EXPECT_TRUE(l.GetCheck(0));
        hl::ClickListCell(l, 0, 0);
        EXPECT_FALSE(l.GetCheck(0));
        // A double click is a click and a double-click message: two toggles.
        hl::DoubleClickListCell(l, 2, 0);
        EXPECT_FALSE(l.GetCheck(2));
        EXPECT_EQ(d.seen.back().code, NM_DBLCLK);
        EXPECT_EQ(d.list.mice.back(), WM_LBUTTONDBLCLK);
      },
      LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
}

TEST_F(ListViewTest, SpaceTogglesTheFocusedRowUnlessSwallowed) {
  WithList(
      [](ListDlg& d) {
        d.list.SetItemState(2, LVIS_FOCUSED, LVIS_FOCUSED);
        hl::PressKey(d.list, VK_SPACE);
        EXPECT_TRUE(d.list.GetCheck(2));
        d.list.swallowSpace = true;
        hl::PressKey(d.list, VK_SPACE);
        EXPECT_TRUE(d.list.GetCheck(2));
      },
      LVS_EX_CHECKBOXES);
}

TEST_F(ListViewTest, HeaderClickNeedsTheButtonStyle) {
  WithList([](ListDlg& d) {
    hl::ClickListHeader(d.list, 2);
    ASSERT_EQ(d.seen.size(), 1u);
    EXPECT_EQ(d.seen[0].code, LVN_COLUMNCLICK);
    EXPECT_EQ(d.seen[0].subItem, 2);
    CHeaderCtrl header = d.list.GetHeaderCtrl();
    EXPECT_NE(header.GetStyle() & HDS_BUTTONS, 0u);
    header.ModifyStyle(HDS_BUTTONS, 0);
    hl::ClickListHeader(d.list, 1);
    EXPECT_EQ(d.seen.size(), 1u);
  });
}

TEST_F(ListViewTest, CustomDrawStagesAndColours) {
  WithList([](ListDlg& d) {
    // Nobody draws: the list's own colours, and no later stage is asked for.
    d.seen.clear();
    hl::CellPaint plain = hl::PaintListCell(d.list, 1, 2);
    EXPECT_EQ(plain.text, RGB(0, 0, 0));
    EXPECT_EQ(plain.background, RGB(255, 255, 255));
    ASSERT_EQ(d.seen.size(), 1u);
    EXPECT_EQ(d.seen[0].code, NM_CUSTOMDRAW);
    d.seen.clear();
    d.list.SetBkColor(RGB(1, 2, 3));
    d.list.colourCells = true;
    hl::CellPaint painted = hl::PaintListCell(d.list, 1, 2);
    EXPECT_EQ(painted.text, RGB(1, 2, 1));
    EXPECT_EQ(painted.background, RGB(9, 9, 9));
    EXPECT_EQ(painted.prepaintAnswer, CDRF_NOTIFYSUBITEMDRAW);
    EXPECT_EQ(painted.subItemAnswer, CDRF_DODEFAULT);
    EXPECT_TRUE(d.seen.empty());  // reflected handling keeps it from the parent
  });
}

TEST_F(ListViewTest, RedrawLocksAndCounts) {
  WithList([](ListDlg& d) {
    EXPECT_FALSE(hl::IsRedrawLocked(d.list));
    EXPECT_TRUE(d.list.LockWindowUpdate());
    EXPECT_TRUE(hl::IsRedrawLocked(d.list));
    d.list.UnlockWindowUpdate();
    d.list.SetRedraw(false);
    EXPECT_TRUE(hl::IsRedrawLocked(d.list));
    d.list.SetRedraw(true);
    EXPECT_FALSE(hl::IsRedrawLocked(d.list));
    int before = hl::RedrawCount(d.list);
    d.list.Invalidate();
    d.list.RedrawItems(0, 2);
    EXPECT_EQ(hl::RedrawCount(d.list), before + 2);
  });
}

TEST_F(ListViewTest, ClicksOnAHiddenListOrAMissingCellAreRefused) {
  WithList([](ListDlg& d) {
    ScopedFailureCapture capture;
    hl::ClickListCell(d.list, 5, 0);
    hl::ClickListHeader(d.list, 3);
    d.list.ShowWindow(SW_HIDE);
    hl::ClickListCell(d.list, 0, 0);
    EXPECT_EQ(capture.Failures().size(), 3u);
    EXPECT_TRUE(d.list.mice.empty());
  });
}

// A list created by code: PreCreateWindow may change the styles first.
class CreatedList : public CListCtrl {
 protected:
  void PreCreateWindow(DWORD& style, DWORD& exStyle) override {
    style = (style & ~LVS_TYPEMASK) | LVS_REPORT;
    exStyle |= WS_EX_CLIENTEDGE;
  }
};

TEST_F(ListViewTest, CreateAppliesPreCreateWindowAndBelongsToTheParent) {
  ListDlg dlg;
  CreatedList created;
  hl::ExpectModal("Lists", [&](CWnd& w) {
    ASSERT_TRUE(created.Create(WS_CHILD | WS_VISIBLE | LVS_ICON, {0, 0, 100, 50}, &w, 2000));
    EXPECT_EQ(created.GetStyle() & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_EQ(created.GetExStyle(), WS_EX_CLIENTEDGE);
    EXPECT_EQ(created.GetParent(), w);
    EXPECT_EQ(w.GetDlgItem(2000), created);
    EXPECT_TRUE(created.IsSubclassed());
    hl::Click(w, IDOK);
  });
  dlg.DoModal();
  EXPECT_FALSE(created.IsWindow());
}

}  // namespace
