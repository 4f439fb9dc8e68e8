// Thin, non-owning control wrappers. Each holds only the control's handle; bind
// one to a dialog control with DDX_Control or construct it from GetDlgItem(id).
#pragma once

#include <string>

#include "tk/wnd.h"

namespace tk {

class CButton : public CWnd {
 public:
  using CWnd::CWnd;
  CButton() = default;
  explicit CButton(const CWnd& w) : CWnd(w.GetSafeHwnd()) {}
  int GetCheck() const;              // BST_UNCHECKED or BST_CHECKED
  void SetCheck(int check);
  DWORD GetButtonStyle() const;      // the BS_ type bits (BS_TYPEMASK) of the style
  void SetIcon(HICON icon);          // for BS_ICON buttons
  HICON GetIcon() const;
};

class CEdit : public CWnd {
 public:
  using CWnd::CWnd;
  CEdit() = default;
  explicit CEdit(const CWnd& w) : CWnd(w.GetSafeHwnd()) {}
  void SetLimitText(UINT maxChars);  // 0: the platform's default limit
  UINT GetLimitText() const;
  void SetSel(int start, int end);
};

class CStatic : public CWnd {
 public:
  using CWnd::CWnd;
  CStatic() = default;
  explicit CStatic(const CWnd& w) : CWnd(w.GetSafeHwnd()) {}
  HICON GetIcon() const;
  HICON SetIcon(HICON icon);
};

class CComboBox : public CWnd {
 public:
  using CWnd::CWnd;
  CComboBox() = default;
  explicit CComboBox(const CWnd& w) : CWnd(w.GetSafeHwnd()) {}
  int AddString(const std::string& text);
  int GetCount() const;
  int GetCurSel() const;             // CB_ERR (-1) when nothing is selected
  int SetCurSel(int index);          // -1 clears; an index with no entry clears and returns CB_ERR
  std::string GetLBText(int index) const;
  void ResetContent();
};

class CProgressCtrl : public CWnd {
 public:
  using CWnd::CWnd;
  CProgressCtrl() = default;
  explicit CProgressCtrl(const CWnd& w) : CWnd(w.GetSafeHwnd()) {}
  void SetRange32(int low, int high);
  void GetRange(int& low, int& high) const;
  int SetPos(int pos);               // returns the previous position
  int GetPos() const;
};

class CIPAddressCtrl : public CWnd {
 public:
  using CWnd::CWnd;
  CIPAddressCtrl() = default;
  explicit CIPAddressCtrl(const CWnd& w) : CWnd(w.GetSafeHwnd()) {}
  // The address as a 32-bit value with the first octet in the high byte
  // (IPM_SETADDRESS / IPM_GETADDRESS semantics).
  void SetAddress(DWORD address);
  void SetAddress(int b0, int b1, int b2, int b3);
  int GetAddress(DWORD& address) const;  // number of non-blank fields
  void ClearAddress();
  bool IsBlank() const;
};

class CSpinButtonCtrl : public CWnd {
 public:
  using CWnd::CWnd;
  CSpinButtonCtrl() = default;
  explicit CSpinButtonCtrl(const CWnd& w) : CWnd(w.GetSafeHwnd()) {}
  void SetRange32(int low, int high);
  void GetRange32(int& low, int& high) const;
  int SetPos32(int pos);
  int GetPos32() const;
};

class CHeaderCtrl : public CWnd {
 public:
  using CWnd::CWnd;
  CHeaderCtrl() = default;
  int GetItemCount() const;
};

// A list-view control in report view.
class CListCtrl : public CWnd {
 public:
  using CWnd::CWnd;
  CListCtrl() = default;

  // Creates the control as a child of `parent`. PreCreateWindow may change the
  // styles first.
  bool Create(DWORD style, const CRect& rect, CWnd* parent, UINT id);

  // Columns.
  int InsertColumn(int col, const std::string& heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
  bool DeleteColumn(int col);
  int GetColumnCount() const;  // the header's item count
  std::string GetColumnHeading(int col) const;
  int GetColumnWidth(int col) const;
  int GetColumnFormat(int col) const;  // LVCFMT_LEFT / RIGHT / CENTER
  CHeaderCtrl GetHeaderCtrl() const;

  // Rows (items) and cells (sub-items).
  int GetItemCount() const;
  int InsertItem(int item, const std::string& text);  // -1 on failure
  int InsertItem(int item, const std::string& text, LPARAM data);
  bool DeleteItem(int item);
  bool DeleteAllItems();
  bool SetItemText(int item, int subItem, const std::string& text);
  std::string GetItemText(int item, int subItem) const;
  bool SetItemData(int item, LPARAM data);
  LPARAM GetItemData(int item) const;
  bool SetItemState(int item, UINT state, UINT mask);
  UINT GetItemState(int item, UINT mask) const;
  bool SetCheck(int item, bool check = true);
  bool GetCheck(int item) const;
  int GetItemImage(int item, int subItem) const;  // -1 when none
  bool SetItemImage(int item, int subItem, int image);
  int GetNextItem(int start, UINT flags) const;   // LVNI_SELECTED etc.; -1 when none
  int GetSelectedCount() const;

  // Hit testing in client coordinates: the item, and in `subItem` the column.
  int HitTest(CPoint point, UINT* flags = nullptr) const;
  int SubItemHitTest(CPoint point, int* subItem, UINT* flags = nullptr) const;
  // The client-coordinate rectangle of a cell (row `item`, column `subItem`).
  bool GetSubItemRect(int item, int subItem, CRect& rect) const;

  // Styles and looks.
  DWORD GetExtendedStyle() const;
  DWORD SetExtendedStyle(DWORD exStyle);  // returns the previous extended style
  bool SetBkColor(COLORREF color);
  COLORREF GetBkColor() const;
  bool RedrawItems(int first, int last);
};

}  // namespace tk
