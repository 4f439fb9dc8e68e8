// CReportCtrl: the report-view list control of both programs.
//
// On top of the toolkit's list it adds a column format string, per-cell
// text and background colours (kept in a RowRecord per row, held in the row's
// item-data slot), check-box modes with a click rule, row-state filters, and a
// row sort with a hexadecimal / number / date / text comparison. Window styles
// are forced to a report view with scroll bars whether the control is created by
// code or subclassed from a dialog template.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "tk/controls.h"

namespace reportctrl {

// Parent notifications, sent synchronously to the control's parent.
// WM_REPORT_ITEMCLICK: wParam row, lParam the mouse message; a click changed a
// row's check box. WM_REPORT_SORTED: wParam column, lParam 1 ascending / 0
// descending; after a sort.
constexpr tk::UINT WM_REPORT_ITEMCLICK = tk::WM_APP + 10000;
constexpr tk::UINT WM_REPORT_SORTED = tk::WM_APP + 10001;

// A row's selection, check and focus state. As a state value a row has exactly
// one bit of each pair; as a filter a row matches when the filter has kRowAll or
// all of its bits are in the row's state; as a request each bit is an action.
enum RowStateFlags : tk::DWORD {
  kRowAll = 0x01,
  kRowSelected = 0x02,
  kRowUnselected = 0x04,
  kRowChecked = 0x08,
  kRowUnchecked = 0x10,
  kRowFocused = 0x20,
  kRowUnfocused = 0x40,
};

// Check-box modes.
enum CheckboxMode : int {
  kCheckboxNone = 0,      // no check boxes
  kCheckboxFree = 1,      // clicks check and uncheck rows independently
  kCheckboxSingle = 2,    // checking a row unchecks the others
  kCheckboxReadOnly = 3,  // clicks cannot change a check box
};

// A colour argument meaning "the system colour" (window text or window).
constexpr tk::COLORREF kSystemColor = static_cast<tk::COLORREF>(-1);

// The control's own record of a row.
struct RowRecord {
  tk::LPARAM data = 0;                   // the row's data value (0 for InsertRow)
  std::vector<tk::COLORREF> textColors;  // one per column
  std::vector<tk::COLORREF> backColors;  // one per column
};

class CReportCtrl : public tk::CListCtrl {
 public:
  // Style rules: styles lose kStyleRemoved and gain kStyleAdded; every change of
  // the extended style adds kExStyleAdded.
  static constexpr tk::DWORD kStyleRemoved = tk::LVS_EDITLABELS | tk::LVS_NOSCROLL | tk::LVS_SMALLICON;
  static constexpr tk::DWORD kStyleAdded =
      tk::LVS_REPORT | tk::WS_CHILD | tk::WS_VISIBLE | tk::WS_HSCROLL | tk::WS_VSCROLL;
  static constexpr tk::DWORD kExStyleAdded = tk::LVS_EX_FULLROWSELECT | tk::LVS_EX_SUBITEMIMAGES;

  CReportCtrl();
  ~CReportCtrl() override;
  CReportCtrl(const CReportCtrl&) = delete;
  CReportCtrl& operator=(const CReportCtrl&) = delete;

  // Creates the list in `rect`, or in the parent's whole client area when
  // `rect` is null, with the style rules applied.
  virtual bool CreateInParent(tk::CWnd* parent, tk::UINT id, const tk::CRect* rect = nullptr,
                              tk::DWORD style = tk::WS_BORDER | tk::WS_TABSTOP);
  // The toolkit's Create with the creation rule for the extended style.
  bool Create(tk::DWORD style, const tk::CRect& rect, tk::CWnd* parent, tk::UINT id);
  // Sets the extended style; kExStyleAdded is always kept.
  tk::DWORD SetExtendedStyle(tk::DWORD exStyle);

  // Columns.
  bool SetColumns(const std::string& columnFormat);
  int InsertColumnAt(int index, const std::string& heading, int format = tk::LVCFMT_LEFT, int width = -1,
                     int subItem = -1);
  bool DeleteColumnAt(int index);

  // Rows and cells.
  int InsertRow(int row, const std::string& text);
  bool SetCellText(int row, int column, const std::string& text);
  std::string GetCellText(int row, int column) const { return GetItemText(row, column); }
  bool DeleteRow(int row);
  int DeleteAllRows();
  tk::LPARAM GetRowData(int row) const;
  bool SetRowData(int row, tk::LPARAM data);

  // Row states.
  tk::DWORD GetRowStates(int row) const;
  int CountRows(tk::DWORD filter = kRowAll) const;
  int FindRow(tk::DWORD filter, int after = -1) const;
  bool SetRowStates(int row, tk::DWORD request);
  bool SetRowCheck(int row, bool checked = true);

  // Looks.
  void SetCheckboxMode(int mode);
  int GetCheckboxMode() const { return m_checkboxMode; }
  void SetGridLines(bool on = true);
  void SetCellTextColor(int row, int column, tk::COLORREF color = kSystemColor, bool redraw = true);
  void SetCellBackColor(int row, int column, tk::COLORREF color = kSystemColor, bool redraw = true);
  // The colours a cell is painted with (system colours for a row without a record).
  tk::COLORREF GetCellTextColor(int row, int column) const;
  tk::COLORREF GetCellBackColor(int row, int column) const;

  // Sorting.
  bool SetSortable(bool on);
  bool IsSortable() const;
  void SortByColumn(int column, bool ascending = true);
  int GetSortColumn() const { return m_sortColumn; }
  bool IsSortAscending() const { return m_sortAscending; }

 protected:
  void PreSubclassWindow() override;
  void PreCreateWindow(tk::DWORD& style, tk::DWORD& exStyle) override;
  bool OnMouseMessage(tk::UINT msg, tk::UINT keyFlags, tk::CPoint point) override;
  bool OnKeyDown(tk::UINT virtualKey) override;
  bool OnReflectedNotify(tk::Notification& n, tk::LRESULT& result) override;
  void OnDestroy() override;

  // -1, 0 or 1 on the texts of the sort column.
  int CompareRows(int rowA, int rowB) const;

 private:
  struct RowSnapshot {
    tk::DWORD states = 0;
    tk::LPARAM rawData = 0;
    std::vector<int> images;
    std::vector<std::string> texts;
  };

  bool IsValidRow(int row) const { return row >= 0 && row < GetItemCount(); }
  bool IsValidColumn(int column) const { return column >= 0 && column < GetColumnCount(); }
  RowRecord* RecordOf(int row) const;
  void ResetSortState();
  void ApplyStates(int row, tk::DWORD request);
  void ApplySingleRule(int checkedRow);
  void UncheckAllRows();
  void SelectOnly(int row);
  void SetColors(int row, int column, tk::COLORREF color, bool text, bool redraw);
  void RedrawList();
  void SortRows();
  void NotifyParent(tk::UINT msg, tk::WPARAM wParam, tk::LPARAM lParam);

  int m_sortColumn = -1;
  bool m_sortAscending = true;
  int m_checkboxMode = kCheckboxFree;
  // Every record this control made, keyed by its address; a row's item data is
  // only trusted when it is one of these.
  std::unordered_map<const RowRecord*, std::unique_ptr<RowRecord>> m_records;
};

}  // namespace reportctrl
