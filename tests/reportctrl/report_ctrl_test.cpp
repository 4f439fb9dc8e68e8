// CReportCtrl on the headless backend, grouped by behaviour.
#include "reportctrl/report_ctrl.h"

#include <gtest/gtest.h>

#include "headless_test.h"
#include "report_host.h"
#include "tk/platform.h"

namespace reportctrl {
namespace {

using testing::CHostDlg;
using testing::ParentMessage;
using testing::RunInHost;
using tk::headless::ClickListCell;
using tk::headless::ClickListHeader;
using tk::headless::PaintListCell;

constexpr tk::COLORREF kRed = tk::RGB(255, 0, 0);
constexpr tk::COLORREF kBlue = tk::RGB(0, 0, 255);

tk::COLORREF SystemText() {
  return tk::GetSysColor(tk::COLOR_WINDOWTEXT);
}
tk::COLORREF SystemBack() {
  return tk::GetSysColor(tk::COLOR_WINDOW);
}

// Columns "A;B;C" and one row per text, the text in column 0 and "<text>-b" in column 1.
void Fill(CReportCtrl& list, const std::vector<std::string>& rows, const std::string& columns = "A;B;C") {
  ASSERT_TRUE(list.SetColumns(columns));
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

std::vector<bool> Checks(const CReportCtrl& list) {
  std::vector<bool> checks;
  for (int row = 0; row < list.GetItemCount(); ++row) checks.push_back(list.GetCheck(row));
  return checks;
}

// ---- styles -------------------------------------------------------------------------

class ReportStyles : public HeadlessTest {};

TEST_F(ReportStyles, SubclassingForcesReportViewAndSetsExactExtendedStyle) {
  RunInHost([](CHostDlg& dlg) {
    const tk::DWORD templateStyle = CHostDlg::Template().Find(testing::kListId)->style;
    EXPECT_EQ(dlg.m_list.GetStyle(), (templateStyle & ~0x2202u) | 0x50300001u);
    EXPECT_EQ(dlg.m_list.GetStyle() & tk::LVS_SHOWSELALWAYS, tk::LVS_SHOWSELALWAYS) << "other styles kept";
    EXPECT_EQ(dlg.m_list.GetExtendedStyle(), 0x22u);
  });
}

TEST_F(ReportStyles, CreateInParentAppliesTheRulesInTheRectOrTheWholeClientArea) {
  CReportCtrl inRect;
  CReportCtrl filling;
  RunInHost([&](CHostDlg& dlg) {
    const tk::CRect rect{10, 10, 110, 60};
    ASSERT_TRUE(inRect.CreateInParent(&dlg, 2000, &rect, tk::WS_BORDER | tk::LVS_EDITLABELS | tk::LVS_ICON));
    EXPECT_EQ(inRect.GetStyle() & (tk::LVS_EDITLABELS | tk::LVS_NOSCROLL | tk::LVS_TYPEMASK), tk::LVS_REPORT);
    EXPECT_EQ(inRect.GetStyle() & CReportCtrl::kStyleAdded, CReportCtrl::kStyleAdded);
    EXPECT_EQ(inRect.GetStyle() & tk::WS_BORDER, tk::WS_BORDER);
    EXPECT_EQ(inRect.GetExtendedStyle() & 0x22u, 0x22u);
    EXPECT_EQ(inRect.GetClientRect().Width(), 100);
    EXPECT_EQ(inRect.GetClientRect().Height(), 50);
    EXPECT_EQ(inRect.GetDlgCtrlID(), 2000);

    ASSERT_TRUE(filling.CreateInParent(&dlg, 2001));
    EXPECT_EQ(filling.GetClientRect().Width(), dlg.GetClientRect().Width());
    EXPECT_EQ(filling.GetClientRect().Height(), dlg.GetClientRect().Height());
  });
  CReportCtrl orphan;
  EXPECT_FALSE(orphan.CreateInParent(nullptr, 2002));
}

TEST_F(ReportStyles, EveryExtendedStyleChangeKeepsFullRowSelectAndSubItemImages) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    list.SetExtendedStyle(0);
    EXPECT_EQ(list.GetExtendedStyle(), 0x22u);
    list.SetGridLines(true);
    EXPECT_EQ(list.GetExtendedStyle(), 0x22u | tk::LVS_EX_GRIDLINES);
    list.SetCheckboxMode(kCheckboxFree);
    EXPECT_EQ(list.GetExtendedStyle(), 0x22u | tk::LVS_EX_GRIDLINES | tk::LVS_EX_CHECKBOXES);
    list.SetGridLines(false);
    list.SetCheckboxMode(kCheckboxNone);
    EXPECT_EQ(list.GetExtendedStyle(), 0x22u);
    EXPECT_EQ(list.GetCheckboxMode(), kCheckboxNone);
    list.SetCheckboxMode(7);
    EXPECT_EQ(list.GetCheckboxMode(), kCheckboxNone) << "an unknown mode is ignored";
  });
}

// ---- columns ------------------------------------------------------------------------

class ReportColumns : public HeadlessTest {};

TEST_F(ReportColumns, SetColumnsReplacesRowsAndColumns) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"x", "y"}, "Old1;Old2;Old3;Old4;Old5;Old6");
    ASSERT_TRUE(
        list.SetColumns("Port ID, 60; Port Name, 150; Status, 100; Remote IP, 120,2; Remote Port, 80,1"));
    EXPECT_EQ(list.GetItemCount(), 0);
    ASSERT_EQ(list.GetColumnCount(), 5);
    EXPECT_EQ(list.GetColumnHeading(0), "Port ID");
    EXPECT_EQ(list.GetColumnHeading(1), " Port Name");
    EXPECT_EQ(list.GetColumnWidth(1), 150);
    EXPECT_EQ(list.GetColumnFormat(2), tk::LVCFMT_LEFT);
    EXPECT_EQ(list.GetColumnFormat(3), tk::LVCFMT_RIGHT);
    EXPECT_EQ(list.GetColumnFormat(4), tk::LVCFMT_CENTER);

    EXPECT_FALSE(list.SetColumns(";,;")) << "nothing added";
    EXPECT_EQ(list.GetColumnCount(), 0);
  });
}

TEST_F(ReportColumns, InsertAndDeleteKeepEachRowsColoursInStep) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"r0", "r1"});
    list.SetCellTextColor(0, 1, kRed, false);
    list.SetCellBackColor(1, 2, kBlue, false);

    EXPECT_EQ(list.InsertColumnAt(1, "New", tk::LVCFMT_LEFT, 50), 1);
    EXPECT_EQ(list.GetCellTextColor(0, 1), SystemText()) << "the new column has default colours";
    EXPECT_EQ(list.GetCellTextColor(0, 2), kRed) << "the coloured column moved right";
    EXPECT_EQ(list.GetCellBackColor(1, 3), kBlue);

    EXPECT_TRUE(list.DeleteColumnAt(0));
    EXPECT_EQ(list.GetCellTextColor(0, 1), kRed);
    EXPECT_EQ(list.GetCellBackColor(1, 2), kBlue);
    EXPECT_EQ(list.GetColumnCount(), 3);

    EXPECT_FALSE(list.DeleteColumnAt(3));
    EXPECT_FALSE(list.DeleteColumnAt(-1));
    EXPECT_EQ(list.InsertColumnAt(-1, "Bad"), -1);
    EXPECT_EQ(list.GetColumnCount(), 3);
  });
}

TEST_F(ReportColumns, ColumnsAddedBehindTheControlsBackAreIgnoredByColours) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"r0"});
    static_cast<tk::CListCtrl&>(list).InsertColumn(3, "Plain");  // no colour entries
    list.SetCellTextColor(0, 3, kRed, false);
    list.SetCellBackColor(-1, -1, kBlue, false);
    EXPECT_EQ(list.GetCellTextColor(0, 3), SystemText());
    EXPECT_EQ(list.GetCellBackColor(0, 3), SystemBack());
    EXPECT_EQ(PaintListCell(list, 0, 3).text, SystemText());
    EXPECT_EQ(list.GetCellBackColor(0, 2), kBlue);
  });
}

// ---- rows and records ---------------------------------------------------------------

class ReportRows : public HeadlessTest {};

TEST_F(ReportRows, InsertRowAttachesARecordWithSystemColours) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {});
    EXPECT_EQ(list.InsertRow(0, "first"), 0);
    EXPECT_EQ(list.InsertRow(0, "zeroth"), 0);
    EXPECT_EQ(list.InsertRow(2, "last"), 2);
    EXPECT_EQ(list.InsertRow(4, "past the end"), -1);
    EXPECT_EQ(list.InsertRow(-1, "negative"), -1);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"zeroth", "first", "last"}));
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(list.GetCellTextColor(1, column), SystemText());
      EXPECT_EQ(list.GetCellBackColor(1, column), SystemBack());
    }
    EXPECT_EQ(list.GetRowData(1), 0);
    EXPECT_TRUE(list.SetRowData(1, 42));
    EXPECT_EQ(list.GetRowData(1), 42);
    EXPECT_FALSE(list.SetRowData(3, 1));
    EXPECT_FALSE(list.SetCellText(3, 0, "x"));
    EXPECT_FALSE(list.SetCellText(0, 3, "x"));
  });
}

// A row whose item data is not one of the control's records (inserted through
// the plain list) must never be read as a record.
TEST_F(ReportRows, ForeignItemDataIsNeverTakenForARecord) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"mine"});
    auto& plain = static_cast<tk::CListCtrl&>(list);
    ASSERT_EQ(plain.InsertItem(1, "foreign", 0x12345678), 1);
    list.SetCellBackColor(-1, -1, kRed, false);
    EXPECT_EQ(list.GetCellBackColor(0, 0), kRed);
    EXPECT_EQ(list.GetCellBackColor(1, 0), SystemBack());
    EXPECT_EQ(PaintListCell(list, 1, 0).background, SystemBack());
    EXPECT_EQ(list.GetRowData(1), 0);
    EXPECT_FALSE(list.SetRowData(1, 5));
  });
}

TEST_F(ReportRows, DeleteRowsFreesRecordsAndUnlocksRedraw) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"a", "b", "c"});
    list.SetCellBackColor(2, -1, kRed, false);
    EXPECT_TRUE(list.DeleteRow(0));
    EXPECT_FALSE(list.DeleteRow(5));
    EXPECT_EQ(list.GetCellBackColor(1, 0), kRed) << "row c kept its record";
    EXPECT_EQ(list.DeleteAllRows(), 2);
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_FALSE(tk::headless::IsRedrawLocked(list));
    EXPECT_EQ(list.DeleteAllRows(), 0);
  });
}

// ---- colours ------------------------------------------------------------------------

struct ColourCase {
  int row;
  int column;
  std::vector<std::pair<int, int>> changed;  // every other cell keeps the system colour
};

class ReportColours : public HeadlessTest, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(ReportColours, MinusOneMeansEveryRowOrColumn) {
  const ColourCase& c = GetParam();
  RunInHost([&](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"r0", "r1", "r2"});
    list.SetCellBackColor(c.row, c.column, kBlue, false);
    list.SetCellTextColor(c.row, c.column, kRed, false);
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < 3; ++column) {
        bool hit =
            std::find(c.changed.begin(), c.changed.end(), std::make_pair(row, column)) != c.changed.end();
        tk::headless::CellPaint paint = PaintListCell(list, row, column);
        EXPECT_EQ(paint.background, hit ? kBlue : SystemBack()) << "cell " << row << "," << column;
        EXPECT_EQ(paint.text, hit ? kRed : SystemText()) << "cell " << row << "," << column;
      }
    }
  });
}

std::vector<std::pair<int, int>> AllCells() {
  std::vector<std::pair<int, int>> cells;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) cells.emplace_back(r, c);
  return cells;
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportColours,
                         ::testing::Values(ColourCase{1, 2, {{1, 2}}},                   // one cell
                                           ColourCase{1, -1, {{1, 0}, {1, 1}, {1, 2}}},  // whole row
                                           ColourCase{1, 3, {{1, 0}, {1, 1}, {1, 2}}},  // column past the end
                                           ColourCase{-1, 0, {{0, 0}, {1, 0}, {2, 0}}},  // whole column
                                           ColourCase{3, 0, {{0, 0}, {1, 0}, {2, 0}}},   // row past the end
                                           ColourCase{-1, -1, AllCells()},               // every cell
                                           ColourCase{7, 9, AllCells()}));

TEST_F(ReportColours, MinusOneColourIsTheSystemColourAndRedrawIsOnRequest) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"r0"});
    list.SetCellBackColor(-1, -1, kRed, false);
    list.SetCellTextColor(-1, -1, kBlue, false);
    int before = tk::headless::RedrawCount(list);
    list.SetCellBackColor(0, 1, kSystemColor, false);
    list.SetCellTextColor(0, 1, kSystemColor, false);
    EXPECT_EQ(tk::headless::RedrawCount(list), before) << "no redraw unless asked";
    EXPECT_EQ(list.GetCellBackColor(0, 1), SystemBack());
    EXPECT_EQ(list.GetCellTextColor(0, 1), SystemText());
    list.SetCellBackColor(0, 0, kBlue, true);
    EXPECT_GT(tk::headless::RedrawCount(list), before);
  });
}

TEST_F(ReportColours, CustomDrawAsksForEachCellAndPaintsItsColours) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"r0", "r1"});
    list.SetCellBackColor(1, 1, tk::RGB(232, 192, 192), false);
    tk::headless::CellPaint paint = PaintListCell(list, 1, 1);
    EXPECT_EQ(paint.prepaintAnswer, tk::CDRF_NOTIFYSUBITEMDRAW);
    EXPECT_EQ(paint.itemAnswer, tk::CDRF_NOTIFYSUBITEMDRAW);
    EXPECT_EQ(paint.subItemAnswer, tk::CDRF_DODEFAULT);
    EXPECT_EQ(paint.background, tk::RGB(232, 192, 192));
    EXPECT_EQ(PaintListCell(list, 1, 0).background, SystemBack());
  });
}

// ---- row states ---------------------------------------------------------------------

class ReportRowStates : public HeadlessTest {};

TEST_F(ReportRowStates, FiltersCountAndFindRows) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    list.SetCheckboxMode(kCheckboxFree);
    Fill(list, {"r0", "r1", "r2", "r3"});
    EXPECT_TRUE(list.SetRowStates(1, kRowChecked | kRowSelected | kRowFocused));
    EXPECT_TRUE(list.SetRowStates(3, kRowChecked));
    EXPECT_FALSE(list.SetRowStates(4, kRowChecked));

    EXPECT_EQ(list.GetRowStates(1), kRowChecked | kRowSelected | kRowFocused);
    EXPECT_EQ(list.GetRowStates(0), kRowUnchecked | kRowUnselected | kRowUnfocused);
    EXPECT_EQ(list.CountRows(), 4);
    EXPECT_EQ(list.CountRows(kRowAll | kRowChecked), 4) << "kRowAll matches every row";
    EXPECT_EQ(list.CountRows(kRowChecked), 2);
    EXPECT_EQ(list.CountRows(kRowChecked | kRowSelected), 1);
    EXPECT_EQ(list.CountRows(kRowUnchecked | kRowUnfocused), 2);
    EXPECT_EQ(list.CountRows(0), 0);
    EXPECT_EQ(list.FindRow(kRowChecked), 1);
    EXPECT_EQ(list.FindRow(kRowChecked, 1), 3);
    EXPECT_EQ(list.FindRow(kRowChecked, 3), -1);
    EXPECT_EQ(list.FindRow(kRowChecked, -7), 1);
    EXPECT_EQ(list.FindRow(kRowAll, 99), -1);

    // Requests apply in order: select then unselect leaves it unselected.
    EXPECT_TRUE(list.SetRowStates(1, kRowSelected | kRowUnselected | kRowUnchecked | kRowUnfocused));
    EXPECT_EQ(list.GetRowStates(1), kRowUnchecked | kRowUnselected | kRowUnfocused);
  });
}

TEST_F(ReportRowStates, SingleModeKeepsOneCheckedRow) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    list.SetCheckboxMode(kCheckboxFree);
    Fill(list, {"r0", "r1", "r2", "r3"});
    list.SetRowCheck(1);
    list.SetRowCheck(3);
    list.SetCheckboxMode(kCheckboxSingle);
    EXPECT_EQ(Checks(list), (std::vector<bool>{false, true, false, false})) << "the first checked row stays";
    EXPECT_TRUE(list.SetRowCheck(3));
    EXPECT_EQ(Checks(list), (std::vector<bool>{false, false, false, true}));
    EXPECT_TRUE(list.SetRowStates(0, kRowChecked));
    EXPECT_EQ(Checks(list), (std::vector<bool>{true, false, false, false}));
    EXPECT_TRUE(list.SetRowCheck(0, false));
    EXPECT_EQ(list.CountRows(kRowChecked), 0);
    EXPECT_FALSE(list.SetRowCheck(4));
  });
}

// ---- check boxes under the mouse, and the space bar -----------------------------------

struct ClickCase {
  int mode;
  std::vector<bool> checksAfter;
  bool notified;
};

class ReportCheckClicks : public HeadlessTest, public ::testing::WithParamInterface<ClickCase> {};

// Row 0 starts checked and row 1 selected; the user clicks row 2's check box.
TEST_P(ReportCheckClicks, ClickOnTheCheckBoxFollowsTheMode) {
  const ClickCase& c = GetParam();
  RunInHost([&](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    list.SetCheckboxMode(kCheckboxFree);
    Fill(list, {"r0", "r1", "r2"});
    list.SetRowCheck(0);
    list.SetRowStates(1, kRowSelected);
    list.SetCheckboxMode(c.mode);

    const std::vector<bool> before = Checks(list);
    ClickListCell(list, 2, 0);
    // An empty expectation means the click changes no check box.
    EXPECT_EQ(Checks(list), c.checksAfter.empty() ? before : c.checksAfter) << "mode " << c.mode;
    if (c.notified) {
      EXPECT_EQ(dlg.m_reports, (std::vector<ParentMessage>{{WM_REPORT_ITEMCLICK, 2, tk::WM_LBUTTONDOWN}}));
      EXPECT_EQ(list.CountRows(kRowSelected), 1);
      EXPECT_EQ(list.GetRowStates(2) & (kRowSelected | kRowFocused), kRowSelected | kRowFocused);
    } else {
      EXPECT_TRUE(dlg.m_reports.empty()) << "mode " << c.mode;
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Modes, ReportCheckClicks,
                         ::testing::Values(ClickCase{kCheckboxNone, {}, false},
                                           ClickCase{kCheckboxFree, {true, false, true}, true},
                                           ClickCase{kCheckboxSingle, {false, false, true}, true},
                                           ClickCase{kCheckboxReadOnly, {}, false}));

TEST_F(ReportCheckClicks, UncheckingClickAndClicksThatChangeNoBox) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    list.SetCheckboxMode(kCheckboxFree);
    Fill(list, {"r0", "r1"});
    list.SetRowCheck(0);

    ClickListCell(list, 1, 1);    // a text cell: no box changes
    ClickListCell(list, -1, -1);  // below the rows
    EXPECT_TRUE(dlg.m_reports.empty());
    EXPECT_EQ(Checks(list), (std::vector<bool>{true, false}));

    ClickListCell(list, 0, 0);
    EXPECT_EQ(Checks(list), (std::vector<bool>{false, false}));
    EXPECT_EQ(dlg.m_reports, (std::vector<ParentMessage>{{WM_REPORT_ITEMCLICK, 0, tk::WM_LBUTTONDOWN}}));
    EXPECT_NE(std::find(dlg.m_notifications.begin(), dlg.m_notifications.end(), tk::NM_CLICK),
              dlg.m_notifications.end())
        << "the list's own click handling still ran";
  });
}

TEST_F(ReportCheckClicks, ReadOnlyModeRestoresABoxTheParentToggledOnClick) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    list.SetCheckboxMode(kCheckboxReadOnly);
    Fill(list, {"r0", "r1"});
    ClickListCell(list, 1, 0);
    ClickListCell(list, 0, 0, tk::WM_LBUTTONDBLCLK);
    EXPECT_EQ(Checks(list), (std::vector<bool>{false, false}));
    EXPECT_TRUE(dlg.m_reports.empty());
  });
}

TEST_F(ReportCheckClicks, SpaceBarNeverTogglesACheckBox) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    list.SetCheckboxMode(kCheckboxFree);
    Fill(list, {"r0", "r1"});
    list.SetRowStates(1, kRowSelected | kRowFocused);
    tk::headless::PressKey(list, tk::VK_SPACE);
    EXPECT_EQ(Checks(list), (std::vector<bool>{false, false}));
    EXPECT_TRUE(dlg.m_reports.empty());
  });
}

// ---- sorting ------------------------------------------------------------------------

struct SortCase {
  std::vector<std::string> texts;
  std::vector<std::string> ascending;
};

class ReportSortOrder : public HeadlessTest, public ::testing::WithParamInterface<SortCase> {};

TEST_P(ReportSortOrder, SortsBothWays) {
  const SortCase& c = GetParam();
  RunInHost([&](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, c.texts);
    ASSERT_TRUE(list.SetSortable(true));
    list.SortByColumn(0, true);
    EXPECT_EQ(ColumnTexts(list, 0), c.ascending);
    list.SortByColumn(0, false);
    std::vector<std::string> descending(c.ascending.rbegin(), c.ascending.rend());
    EXPECT_EQ(ColumnTexts(list, 0), descending);
    EXPECT_EQ(dlg.m_reports,
              (std::vector<ParentMessage>{{WM_REPORT_SORTED, 0, 1}, {WM_REPORT_SORTED, 0, 0}}));
  });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportSortOrder,
    ::testing::Values(SortCase{{"10", "9", "A"}, {"9", "A", "10"}},  // all hexadecimal: 16, 9, 10
                      SortCase{{"10%", "1.5", "2"}, {"1.5", "2", "10%"}},
                      SortCase{{"Idle", "Connected"}, {"Connected", "Idle"}},
                      SortCase{{"1/5/2021", "12/31/2020", "2020-06-01"},
                               {"2020-06-01", "12/31/2020", "1/5/2021"}},
                      SortCase{{"h", "G", "g", "H"}, {"G", "H", "g", "h"}},  // text, upper case first
                      SortCase{{"x", "x", "x"}, {"x", "x", "x"}}, SortCase{{"only"}, {"only"}}));

class ReportSorting : public HeadlessTest {};

TEST_F(ReportSorting, EachRowsRecordStateAndCellsMoveWithIt) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    list.SetCheckboxMode(kCheckboxFree);
    Fill(list, {"Idle", "Connected", "Busy"});
    list.SetCellBackColor(0, -1, kRed, false);  // Idle
    list.SetCellTextColor(1, 2, kBlue, false);  // Connected, column 2
    list.SetRowData(2, 33);                     // Busy
    list.SetRowCheck(1);                        // Connected
    list.SetRowStates(0, kRowSelected | kRowFocused);
    list.SetItemImage(2, 1, 4);
    ASSERT_TRUE(list.SetSortable(true));

    list.SortByColumn(0, true);  // Busy, Connected, Idle
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"Busy", "Connected", "Idle"}));
    EXPECT_EQ(ColumnTexts(list, 1), (std::vector<std::string>{"Busy-b", "Connected-b", "Idle-b"}));
    EXPECT_EQ(PaintListCell(list, 2, 1).background, kRed);
    EXPECT_EQ(PaintListCell(list, 0, 1).background, SystemBack());
    EXPECT_EQ(PaintListCell(list, 1, 2).text, kBlue);
    EXPECT_EQ(list.GetRowData(0), 33);
    EXPECT_EQ(list.GetItemImage(0, 1), 4);
    EXPECT_EQ(Checks(list), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(list.GetRowStates(2) & (kRowSelected | kRowFocused), kRowSelected | kRowFocused);
    EXPECT_EQ(list.CountRows(kRowSelected), 1);
  });
}

TEST_F(ReportSorting, HeaderClickSortsAscendingThenDescendingWhenSortable) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"2", "3", "1"});
    ASSERT_TRUE(list.SetSortable(true));
    EXPECT_TRUE(list.IsSortable());
    ClickListHeader(list, 0);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"1", "2", "3"}));
    ClickListHeader(list, 0);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"3", "2", "1"}));
    ClickListHeader(list, 0);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"1", "2", "3"}));
    ClickListHeader(list, 1);  // another column starts ascending
    EXPECT_EQ(list.GetSortColumn(), 1);
    EXPECT_TRUE(list.IsSortAscending());
    EXPECT_EQ(dlg.m_reports, (std::vector<ParentMessage>{{WM_REPORT_SORTED, 0, 1},
                                                         {WM_REPORT_SORTED, 0, 0},
                                                         {WM_REPORT_SORTED, 0, 1},
                                                         {WM_REPORT_SORTED, 1, 1}}));
  });
}

TEST_F(ReportSorting, InsertRowOrSetCellTextMakesTheNextClickAscending) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"2", "1"});
    ASSERT_TRUE(list.SetSortable(true));
    ClickListHeader(list, 0);
    list.InsertRow(2, "0");
    EXPECT_EQ(list.GetSortColumn(), -1);
    ClickListHeader(list, 0);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"0", "1", "2"}));
    list.SetCellText(0, 1, "x");
    EXPECT_EQ(list.GetSortColumn(), -1);
    ClickListHeader(list, 0);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_TRUE(list.IsSortAscending());
  });
}

TEST_F(ReportSorting, NotSortableMeansNoSort) {
  RunInHost([](CHostDlg& dlg) {
    CReportCtrl& list = dlg.m_list;
    Fill(list, {"2", "3", "1"});
    ASSERT_TRUE(list.SetSortable(true));
    list.SortByColumn(0, false);
    ASSERT_TRUE(list.SetSortable(false));
    EXPECT_FALSE(list.IsSortable());
    EXPECT_EQ(list.GetSortColumn(), -1) << "turning sorting off forgets the sort";
    dlg.m_reports.clear();
    ClickListHeader(list, 0);
    list.SortByColumn(1, true);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_TRUE(dlg.m_reports.empty());

    ASSERT_TRUE(list.SetSortable(true));
    list.SortByColumn(3, true);  // no such column
    list.SortByColumn(-1, true);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_TRUE(dlg.m_reports.empty());
  });
}

TEST_F(ReportSorting, ListWithoutHeaderCannotBeMadeSortable) {
  RunInHost([](CHostDlg& dlg) {
    dlg.m_list.ModifyStyle(0, tk::LVS_NOCOLUMNHEADER);
    EXPECT_FALSE(dlg.m_list.SetSortable(true));
  });
}

}  // namespace
}  // namespace reportctrl
