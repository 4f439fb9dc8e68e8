// Dialog data exchange and validation with the toolkit's standard messages.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "tk/controls.h"
#include "tk/detail/dispatch.h"
#include "tk/dialog.h"

namespace tk {

const char* const kMsgPositiveInteger = "Please enter a positive integer.";
const char* const kMsgInteger = "Please enter an integer.";

std::string FormatRangeMessage(long long low, long long high) {
  return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".";
}

std::string FormatMaxCharsMessage(int count) {
  return "Please enter no more than " + std::to_string(count) + " characters.";
}

void CDataExchange::Fail(const std::string& message) {
  if (m_failed) return;
  m_failed = true;
  AfxMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
  if (m_pDlgWnd == nullptr || m_idLastControl == 0) return;
  CWnd control = m_pDlgWnd->GetDlgItem(m_idLastControl);
  control.SetFocus();
  if (m_bEditLastControl) CEdit(control).SetSel(0, -1);
}

CWnd CDataExchange::PrepareCtrl(int id) {
  m_idLastControl = id;
  m_bEditLastControl = false;
  CWnd control = m_pDlgWnd->GetDlgItem(id);
  if (control.GetSafeHwnd() == nullptr) detail::ReportMisuse("data exchange: no control " + std::to_string(id));
  return control;
}

CWnd CDataExchange::PrepareEditCtrl(int id) {
  CWnd control = PrepareCtrl(id);
  m_bEditLastControl = true;
  return control;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads a whole decimal integer: blanks around it are allowed, nothing else.
// An empty text, a text with other characters, or a value outside the type's
// range is not a number.
bool ParseWholeNumber(const std::string& text, bool isSigned, long long& value) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const std::string rest = text.substr(i);
  if (rest.empty()) return false;
  if (!isSigned && rest[0] == '-') return false;
  const char* begin = rest.c_str();
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(begin, &end, 10);
  if (end == begin || errno == ERANGE) return false;
  while (*end != '\0' && IsBlank(*end)) ++end;
  if (*end != '\0') return false;
  if (isSigned && (parsed < INT_MIN || parsed > INT_MAX)) return false;
  if (!isSigned && (parsed < 0 || parsed > static_cast<long long>(UINT_MAX))) return false;
  value = parsed;
  return true;
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  if (pDX->Failed()) return;
  CWnd control = pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    value = control.GetWindowText();
  } else {
    control.SetWindowText(value);
  }
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
  if (pDX->Failed()) return;
  CWnd control = pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    long long parsed = 0;
    if (!ParseWholeNumber(control.GetWindowText(), true, parsed)) {
      pDX->Fail(kMsgInteger);
      return;
    }
    value = static_cast<int>(parsed);
  } else {
    control.SetWindowText(std::to_string(value));
  }
}

void DDX_Text(CDataExchange* pDX, int id, unsigned int& value) {
  if (pDX->Failed()) return;
  CWnd control = pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    long long parsed = 0;
    if (!ParseWholeNumber(control.GetWindowText(), false, parsed)) {
      pDX->Fail(kMsgPositiveInteger);
      return;
    }
    value = static_cast<unsigned int>(parsed);
  } else {
    control.SetWindowText(std::to_string(value));
  }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
  if (pDX->Failed()) return;
  CButton button(pDX->PrepareCtrl(id));
  if (pDX->m_bSaveAndValidate) {
    value = button.GetCheck();
  } else {
    button.SetCheck(value != 0 ? BST_CHECKED : BST_UNCHECKED);
  }
}

namespace {

bool IsRadioButton(const CWnd& w) {
  DWORD type = w.GetStyle() & BS_TYPEMASK;
  return (w.QueryDlgCode() & DLGC_RADIOBUTTON) != 0 || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

// The radio buttons of the group that starts at `first`, in order: the first
// one and the radio buttons after it up to the next control with WS_GROUP.
std::vector<CWnd> RadioGroup(CDialog* dlg, const CWnd& first) {
  std::vector<CWnd> group;
  std::vector<Handle> children = detail::ChildWindows(dlg->GetSafeHwnd());
  bool inGroup = false;
  for (Handle h : children) {
    CWnd child(h);
    if (!inGroup) {
      if (h == first.GetSafeHwnd()) {
        inGroup = true;
        group.push_back(child);
      }
      continue;
    }
    if ((child.GetStyle() & WS_GROUP) != 0) break;
    if (IsRadioButton(child)) group.push_back(child);
  }
  return group;
}

}  // namespace

void DDX_Radio(CDataExchange* pDX, int firstId, int& value) {
  if (pDX->Failed()) return;
  CWnd first = pDX->PrepareCtrl(firstId);
  if (first.GetSafeHwnd() == nullptr) return;
  std::vector<CWnd> group = RadioGroup(pDX->m_pDlgWnd, first);
  if (pDX->m_bSaveAndValidate) {
    value = -1;
    for (size_t i = 0; i < group.size(); ++i) {
      if (CButton(group[i]).GetCheck() == BST_CHECKED) {
        value = static_cast<int>(i);
        break;
      }
    }
  } else {
    for (size_t i = 0; i < group.size(); ++i) {
      CButton(group[i]).SetCheck(static_cast<int>(i) == value ? BST_CHECKED : BST_UNCHECKED);
    }
  }
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& value) {
  if (pDX->Failed()) return;
  CComboBox combo(pDX->PrepareCtrl(id));
  if (pDX->m_bSaveAndValidate) {
    value = combo.GetCurSel();
  } else {
    combo.SetCurSel(value);
  }
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (pDX->Failed()) return;
  if (control.IsWindow()) return;  // bound already during this window's life
  CWnd child = pDX->PrepareCtrl(id);
  if (child.GetSafeHwnd() != nullptr) control.SubclassWindow(child.GetSafeHwnd());
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int count) {
  if (pDX->Failed()) return;
  if (pDX->m_bSaveAndValidate) {
    if (static_cast<int>(value.size()) > count) pDX->Fail(FormatMaxCharsMessage(count));
  } else if (pDX->m_idLastControl != 0 && pDX->m_bEditLastControl) {
    CEdit(pDX->m_pDlgWnd->GetDlgItem(pDX->m_idLastControl)).SetLimitText(static_cast<UINT>(count));
  }
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int low, int high) {
  if (pDX->Failed() || !pDX->m_bSaveAndValidate) return;
  if (value < low || value > high) pDX->Fail(FormatRangeMessage(low, high));
}

void DDV_MinMaxUInt(CDataExchange* pDX, unsigned int value, unsigned int low, unsigned int high) {
  if (pDX->Failed() || !pDX->m_bSaveAndValidate) return;
  if (value < low || value > high) pDX->Fail(FormatRangeMessage(low, high));
}

}  // namespace tk
