// Cases for the list view, shared by the headless and the win32 suites so the
// headless imitation is held to the real control case for case. Every case
// starts from the same list (FillList) inside an open dialog; hit tests are
// put in cell terms (the centre of a cell the control itself reports, a point
// past the last row or column), never in pixels, since the two backends draw
// rows of different heights. Mouse, keys and painting stay in each suite.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tk/tk.h"

namespace tktest {

// Three columns (left, centre and right aligned) and three rows "1|dev0|" ...
inline void FillList(tk::CListCtrl& list, tk::DWORD exStyle) {
  list.DeleteAllItems();
  while (list.GetColumnCount() > 0) list.DeleteColumn(0);
  list.ModifyStyle(tk::LVS_SINGLESEL, 0);
  list.SetExtendedStyle(exStyle);
  list.InsertColumn(0, "No", tk::LVCFMT_LEFT, 40);
  list.InsertColumn(1, "Name", tk::LVCFMT_CENTER, 100);
  list.InsertColumn(2, "Port", tk::LVCFMT_RIGHT, 60);
  for (int r = 0; r < 3; ++r) {
    list.InsertItem(r, std::to_string(r + 1));
    list.SetItemText(r, 1, "dev" + std::to_string(r));
  }
}

// Each row's cells joined by '|'.
inline std::vector<std::string> ListRows(const tk::CListCtrl& list) {
  std::vector<std::string> rows;
  for (int r = 0; r < list.GetItemCount(); ++r) {
    std::string row;
    for (int c = 0; c < list.GetColumnCount(); ++c) row += (c ? "|" : "") + list.GetItemText(r, c);
    rows.push_back(row);
  }
  return rows;
}

// ---- items, cells, columns and looks -------------------------------------------

struct ListEditCase {
  const char* label;
  std::function<long(tk::CListCtrl&)> edit;  // what it returns is compared with `result`
  long result;
  std::vector<std::string> rows;  // the list afterwards
};

inline const std::vector<ListEditCase>& ListEditCases() {
  using L = tk::CListCtrl;
  static const std::vector<std::string> filled = {"1|dev0|", "2|dev1|", "3|dev2|"};
  static const std::string longText(600, 'x');  // longer than a first read buffer
  static const std::vector<ListEditCase> cases = {
      {"InsertAtTheFrontShiftsRowsDown",
       [](L& l) { return l.InsertItem(0, "0"); },
       0,
       {"0||", "1|dev0|", "2|dev1|", "3|dev2|"}},
      {"InsertPastTheEndAppends",
       [](L& l) { return l.InsertItem(99, "last"); },
       3,
       {"1|dev0|", "2|dev1|", "3|dev2|", "last||"}},
      {"InsertAtANegativeIndexFails", [](L& l) { return l.InsertItem(-1, "x"); }, -1, filled},
      {"TextOfAMissingColumnIsRefused", [](L& l) { return long{l.SetItemText(0, 3, "x")}; }, 0, filled},
      {"TextOfAMissingRowIsRefused", [](L& l) { return long{l.SetItemText(4, 0, "x")}; }, 0, filled},
      {"AMissingCellReadsEmpty", [](L& l) { return long(l.GetItemText(7, 0).size()); }, 0, filled},
      {"LongTextsComeBackWhole",
       [](L& l) { return long{l.SetItemText(2, 2, longText)}; },
       1,
       {"1|dev0|", "2|dev1|", "3|dev2|" + longText}},
      {"InsertingAColumnShiftsTheCellsAfterIt",
       [](L& l) { return l.InsertColumn(1, "MAC", tk::LVCFMT_LEFT, 50); },
       1,
       {"1||dev0|", "2||dev1|", "3||dev2|"}},
      {"DeletingAColumnDropsItsCells", [](L& l) { return long{l.DeleteColumn(1)}; }, 1, {"1|", "2|", "3|"}},
      {"DeletingARowShiftsTheRestUp", [](L& l) { return long{l.DeleteItem(0)}; }, 1, {"2|dev1|", "3|dev2|"}},
      {"DeleteAllItemsEmptiesTheList", [](L& l) { return long{l.DeleteAllItems()}; }, 1, {}},
      {"DataGivenAtInsertStaysWithTheRow",
       [](L& l) {
         l.InsertItem(0, "0", 0x1234);
         return long(l.GetItemData(0));
       },
       0x1234,
       {"0||", "1|dev0|", "2|dev1|", "3|dev2|"}},
      {"SetItemDataReplacesIt",
       [](L& l) {
         l.SetItemData(1, -7);
         return long(l.GetItemData(1));
       },
       -7, filled},
      {"SetItemImageIsReadBack",
       [](L& l) {
         l.SetItemImage(0, 0, 3);
         return long{l.GetItemImage(0, 0)};
       },
       3, filled},
      {"HeadingIsReadBack", [](L& l) { return long{l.GetColumnHeading(1) == "Name"}; }, 1, filled},
      {"WidthIsReadBack", [](L& l) { return long{l.GetColumnWidth(2)}; }, 60, filled},
      {"CentreFormatIsReadBack", [](L& l) { return long{l.GetColumnFormat(1)}; }, tk::LVCFMT_CENTER, filled},
      {"RightFormatIsReadBack", [](L& l) { return long{l.GetColumnFormat(2)}; }, tk::LVCFMT_RIGHT, filled},
      {"TheHeaderHasAnItemPerColumn", [](L& l) { return long{l.GetHeaderCtrl().GetItemCount()}; }, 3, filled},
      {"SetExtendedStyleAnswersThePreviousOne",
       [](L& l) { return long(l.SetExtendedStyle(tk::LVS_EX_CHECKBOXES | tk::LVS_EX_GRIDLINES)); },
       long{tk::LVS_EX_FULLROWSELECT}, filled},
      {"ExtendedStyleIsReadBack",
       [](L& l) {
         l.SetExtendedStyle(tk::LVS_EX_CHECKBOXES | tk::LVS_EX_GRIDLINES);
         return long(l.GetExtendedStyle() &
                     (tk::LVS_EX_CHECKBOXES | tk::LVS_EX_GRIDLINES | tk::LVS_EX_FULLROWSELECT));
       },
       long{tk::LVS_EX_CHECKBOXES | tk::LVS_EX_GRIDLINES}, filled},
      {"BackgroundColourIsReadBack",
       [](L& l) {
         l.SetBkColor(tk::RGB(240, 250, 255));
         return long(l.GetBkColor());
       },
       long(tk::RGB(240, 250, 255)), filled},
      {"RedrawItemsTakesTheRows", [](L& l) { return long{l.RedrawItems(0, 2)}; }, 1, filled},
      // Cell rectangles: a cell is its column wide, not the whole row, and
      // cells tile the list left to right and top to bottom.
      {"FirstCellIsItsColumnWide",
       [](L& l) {
         tk::CRect r;
         return l.GetSubItemRect(1, 0, r) ? long{r.Width()} : -1L;
       },
       40, filled},
      {"LastCellIsItsColumnWide",
       [](L& l) {
         tk::CRect r;
         return l.GetSubItemRect(1, 2, r) ? long{r.Width()} : -1L;
       },
       60, filled},
      {"CellsTile",
       [](L& l) {
         tk::CRect a, b, c;
         if (!l.GetSubItemRect(1, 0, a) || !l.GetSubItemRect(1, 1, b) || !l.GetSubItemRect(2, 1, c))
           return -1L;
         return long{a.right == b.left && a.top == b.top && b.bottom == c.top && b.left == c.left};
       },
       1, filled},
      {"AMissingRowHasNoCell",
       [](L& l) {
         tk::CRect r;
         return long{l.GetSubItemRect(3, 0, r)};
       },
       0, filled},
  };
  return cases;
}

inline void RunListEditCases(tk::CListCtrl& list) {
  for (const ListEditCase& c : ListEditCases()) {
    SCOPED_TRACE(c.label);
    FillList(list, tk::LVS_EX_FULLROWSELECT);
    EXPECT_EQ(c.edit(list), c.result);
    EXPECT_EQ(ListRows(list), c.rows);
  }
}

// ---- states: selection, focus and check boxes -----------------------------------

enum class StateOp { SetState, SetCheck, ClearCheck, MakeSingleSelection };

struct StateStep {
  StateOp op;
  int item = 0;
  tk::UINT state = 0;
  tk::UINT mask = 0;
};

struct ListStateCase {
  const char* label;
  bool checkBoxes;
  std::vector<StateStep> steps;
  std::vector<int> selected;
  int focused;
  std::vector<int> checked;
  tk::UINT stateImageOfRow1;  // the LVIS_STATEIMAGEMASK bits of row 1
};

inline const std::vector<ListStateCase>& ListStateCases() {
  using O = StateOp;
  constexpr tk::UINT kSel = tk::LVIS_SELECTED;
  constexpr tk::UINT kSelFocus = tk::LVIS_SELECTED | tk::LVIS_FOCUSED;
  static const std::vector<ListStateCase> cases = {
      {"SelectionsAddUpInAMultipleSelectionList",
       false,
       {{O::SetState, 0, kSel, kSel}, {O::SetState, 2, kSelFocus, kSelFocus}},
       {0, 2},
       2,
       {},
       0},
      {"FocusMovesFromRowToRow",
       false,
       {{O::SetState, 0, kSelFocus, kSelFocus}, {O::SetState, 1, kSelFocus, kSelFocus}},
       {0, 1},
       1,
       {},
       0},
      {"ASingleSelectionListKeepsOnlyTheNewest",
       false,
       {{O::SetState, 0, kSel, kSel},
        {O::SetState, 1, kSel, kSel},
        {O::MakeSingleSelection},
        {O::SetState, 2, kSel, kSel}},
       {2},
       -1,
       {},
       0},
      {"RowMinusOneMeansEveryRow",
       false,
       {{O::SetState, 0, kSel, kSel}, {O::SetState, 1, kSel, kSel}, {O::SetState, -1, 0, kSel}},
       {},
       -1,
       {},
       0},
      {"CheckBoxesStartClear", true, {}, {}, -1, {}, 1u << 12},
      {"ACheckIsTheSecondStateImageAndLeavesTheSelectionAlone",
       true,
       {{O::SetCheck, 1}},
       {},
       -1,
       {1},
       2u << 12},
      {"ClearingACheckClearsIt", true, {{O::SetCheck, 1}, {O::ClearCheck, 1}}, {}, -1, {}, 1u << 12},
  };
  return cases;
}

inline void RunListStateCases(tk::CListCtrl& list) {
  for (const ListStateCase& c : ListStateCases()) {
    SCOPED_TRACE(c.label);
    FillList(list,
             c.checkBoxes ? tk::LVS_EX_CHECKBOXES | tk::LVS_EX_FULLROWSELECT : tk::LVS_EX_FULLROWSELECT);
    for (const StateStep& s : c.steps) {
      switch (s.op) {
        case StateOp::SetState:
          EXPECT_TRUE(list.SetItemState(s.item, s.state, s.mask));
          break;
        case StateOp::SetCheck:
          EXPECT_TRUE(list.SetCheck(s.item));
          break;
        case StateOp::ClearCheck:
          EXPECT_TRUE(list.SetCheck(s.item, false));
          break;
        case StateOp::MakeSingleSelection:
          list.ModifyStyle(0, tk::LVS_SINGLESEL);
          break;
      }
    }
    std::vector<int> selected;
    for (int i = list.GetNextItem(-1, tk::LVNI_SELECTED); i >= 0; i = list.GetNextItem(i, tk::LVNI_SELECTED))
      selected.push_back(i);
    EXPECT_EQ(selected, c.selected);
    EXPECT_EQ(list.GetSelectedCount(), int(c.selected.size()));
    EXPECT_EQ(list.GetNextItem(-1, tk::LVNI_FOCUSED), c.focused);
    std::vector<int> checked;
    for (int i = 0; i < list.GetItemCount(); ++i)
      if (list.GetCheck(i)) checked.push_back(i);
    EXPECT_EQ(checked, c.checked);
    EXPECT_EQ(list.GetItemState(1, tk::LVIS_STATEIMAGEMASK), c.stateImageOfRow1);
  }
}

// ---- hit tests by cell ----------------------------------------------------------

enum class HitPoint {
  Centre,        // the middle of the cell
  NearLeftEdge,  // 5 px in from the cell's left, where a check box sits in column 0
  BelowIt,       // a row's height below the cell
  RightOfIt,     // 10 px right of the cell
};

// Below the rows the real control still names the column under the point and
// the imitation answers -1; callers read the column only with a row.
constexpr int kAnyColumn = -100;

struct ListHitCase {
  const char* label;
  tk::DWORD exStyle;
  bool subItemTest;  // SubItemHitTest, else HitTest
  int row, column;   // the cell the point is taken from
  HitPoint where;
  int item, subItem;  // subItem only for SubItemHitTest; kAnyColumn: not compared
  tk::UINT flag;      // a flag the answer must carry
};

inline const std::vector<ListHitCase>& ListHitCases() {
  using H = HitPoint;
  constexpr tk::DWORD kFull = tk::LVS_EX_FULLROWSELECT;
  constexpr tk::DWORD kChecks = tk::LVS_EX_FULLROWSELECT | tk::LVS_EX_CHECKBOXES;
  static const std::vector<ListHitCase> cases = {
      {"CentreOfTheFirstCell", kFull, true, 0, 0, H::Centre, 0, 0, tk::LVHT_ONITEMLABEL},
      {"CentreOfAMiddleCell", kFull, true, 1, 1, H::Centre, 1, 1, tk::LVHT_ONITEMLABEL},
      {"CentreOfTheLastCell", kFull, true, 2, 2, H::Centre, 2, 2, tk::LVHT_ONITEMLABEL},
      {"TheCheckBoxOfARow", kChecks, true, 0, 0, H::NearLeftEdge, 0, 0, tk::LVHT_ONITEMSTATEICON},
      {"BelowTheLastRow", kFull, true, 2, 0, H::BelowIt, -1, kAnyColumn, tk::LVHT_NOWHERE},
      {"RightOfTheLastColumn", kFull, true, 2, 2, H::RightOfIt, -1, -1, tk::LVHT_NOWHERE},
      {"HitTestFindsTheRow", kFull, false, 1, 2, H::Centre, 1, 0, tk::LVHT_ONITEMLABEL},
      {"HitTestBelowTheRows", kFull, false, 2, 0, H::BelowIt, -1, 0, tk::LVHT_NOWHERE},
      // Without full-row selection only the first column belongs to the row.
      {"WithoutFullRowTheFirstColumnIsTheRow", 0, false, 0, 0, H::Centre, 0, 0, tk::LVHT_ONITEMLABEL},
      {"WithoutFullRowOtherColumnsAreNowhere", 0, false, 0, 1, H::Centre, -1, 0, tk::LVHT_NOWHERE},
  };
  return cases;
}

inline tk::CPoint HitPointOf(const tk::CRect& cell, HitPoint where) {
  const int midY = (cell.top + cell.bottom) / 2;
  switch (where) {
    case HitPoint::Centre:
      return {(cell.left + cell.right) / 2, midY};
    case HitPoint::NearLeftEdge:
      return {cell.left + 5, midY};
    case HitPoint::BelowIt:
      return {cell.left + 5, midY + cell.Height()};
    case HitPoint::RightOfIt:
      return {cell.right + 10, midY};
  }
  return {};
}

inline void RunListHitCases(tk::CListCtrl& list) {
  for (const ListHitCase& c : ListHitCases()) {
    SCOPED_TRACE(c.label);
    FillList(list, c.exStyle);
    tk::CRect cell;
    ASSERT_TRUE(list.GetSubItemRect(c.row, c.column, cell));
    const tk::CPoint point = HitPointOf(cell, c.where);
    tk::UINT flags = 0;
    if (c.subItemTest) {
      int subItem = 99;
      EXPECT_EQ(list.SubItemHitTest(point, &subItem, &flags), c.item);
      if (c.subItem != kAnyColumn) {
        EXPECT_EQ(subItem, c.subItem);
      }
    } else {
      EXPECT_EQ(list.HitTest(point, &flags), c.item);
    }
    EXPECT_NE(flags & c.flag, 0u) << "flags " << flags;
  }
}

}  // namespace tktest
