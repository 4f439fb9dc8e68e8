// The search dialogs: defaults, the enabling rules of the two methods, and the
// validation that keeps OK and Cancel from closing with a value out of range.
#include <gtest/gtest.h>

#include "corvane/protocol/search_dlg.h"
#include "corvane/protocol/search_dlg_ids.h"
#include "headless_test.h"
#include "tk/controls.h"
#include "tk/headless.h"

namespace corvane::protocol {
namespace {

using tk::CWnd;
namespace hl = tk::headless;

class SearchDialogTest : public HeadlessTest {};

bool Enabled(CWnd& dlg, int id) {
  return dlg.GetDlgItem(id).IsWindowEnabled();
}

TEST_F(SearchDialogTest, DefaultsAndBroadcastEnabling) {
  CSearchDlg dlg;
  hl::ExpectModal("Searching", [](CWnd& w) {
    EXPECT_EQ(w.GetDlgItem(ids::kBroadcastAddress).GetWindowText(), "255.255.255.255");
    EXPECT_EQ(w.GetDlgItem(ids::kMulticastGroup).GetWindowText(), "225.1.2.3");
    EXPECT_EQ(w.GetDlgItem(ids::kTtl).GetWindowText(), "1");
    EXPECT_EQ(w.GetDlgItem(ids::kBroadcastPort).GetWindowText(), "25122");
    EXPECT_FALSE(w.GetDlgItem(ids::kBroadcastPort).IsWindowVisible());
    EXPECT_FALSE(w.GetDlgItem(ids::kMulticastPort).IsWindowVisible());
    EXPECT_EQ(tk::CButton(w.GetDlgItem(ids::kMethodBroadcast)).GetCheck(), tk::BST_CHECKED);
    EXPECT_EQ(tk::CButton(w.GetDlgItem(ids::kLoopback)).GetCheck(), tk::BST_CHECKED);
    EXPECT_TRUE(Enabled(w, ids::kBroadcastAddress));
    EXPECT_FALSE(Enabled(w, ids::kMulticastGroup));
    EXPECT_FALSE(Enabled(w, ids::kTtl));
    EXPECT_FALSE(Enabled(w, ids::kLoopback));
    hl::Click(w, tk::IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(dlg.m_method, CSearchDlg::kMethodBroadcast);
  EXPECT_EQ(dlg.m_multicastPort, 25123);
  EXPECT_EQ(dlg.m_loopback, 1);
}

TEST_F(SearchDialogTest, MulticastEnablesGroupTtlAndLoopbackAndValuesStayForTheNextSearch) {
  CSearchDlg dlg;
  hl::ExpectModal("Searching", [](CWnd& w) {
    hl::Click(w, ids::kMethodMulticast);
    EXPECT_FALSE(Enabled(w, ids::kBroadcastAddress));
    EXPECT_TRUE(Enabled(w, ids::kMulticastGroup));
    EXPECT_TRUE(Enabled(w, ids::kTtl));
    EXPECT_TRUE(Enabled(w, ids::kLoopback));
    hl::Type(w, ids::kTtl, "32");
    hl::Type(w, ids::kMulticastGroup, "225.9.9.9");
    hl::Click(w, ids::kLoopback);
    hl::Click(w, tk::IDOK);
  });
  ASSERT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(dlg.m_method, CSearchDlg::kMethodMulticast);
  EXPECT_EQ(dlg.m_ttl, 32);
  EXPECT_EQ(dlg.m_multicastGroup, "225.9.9.9");
  EXPECT_EQ(dlg.m_loopback, 0);
  hl::ExpectModal("Searching", [](CWnd& w) {
    EXPECT_EQ(w.GetDlgItem(ids::kTtl).GetWindowText(), "32");
    EXPECT_TRUE(Enabled(w, ids::kTtl));
    hl::Click(w, ids::kMethodBroadcast);
    EXPECT_FALSE(Enabled(w, ids::kTtl));
    hl::Click(w, tk::IDCANCEL);
  });
  EXPECT_EQ(dlg.DoModal(), tk::IDCANCEL);
  EXPECT_EQ(dlg.m_method, CSearchDlg::kMethodBroadcast) << "Cancel keeps what was read";
}

struct RangeCase {
  const char* label;
  int button;
  const char* ttl;
  const char* message;
};

class SearchDialogRange : public HeadlessTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(SearchDialogRange, OutOfRangeKeepsTheDialogOpen) {
  const RangeCase c = GetParam();
  CSearchDlg dlg;
  dlg.m_method = CSearchDlg::kMethodMulticast;
  hl::ExpectModal("Searching", [&](CWnd& w) {
    hl::Type(w, ids::kTtl, c.ttl);
    hl::ExpectMessageBox(c.message);
    hl::Click(w, c.button);
    EXPECT_TRUE(w.IsWindow()) << "still open";
    EXPECT_TRUE(w.GetDlgItem(ids::kTtl).HasFocus());
    hl::Type(w, ids::kTtl, "128");
    hl::Click(w, c.button);
  });
  EXPECT_EQ(dlg.DoModal(), c.button);
  EXPECT_EQ(dlg.m_ttl, 128);
}

void PrintTo(const RangeCase& c, std::ostream* os) {
  *os << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Ttl, SearchDialogRange,
    ::testing::Values(RangeCase{"ZeroOnCancel", tk::IDCANCEL, "0",
                                "Please enter an integer between 1 and 128."},
                      RangeCase{"ZeroOnOK", tk::IDOK, "0", "Please enter an integer between 1 and 128."},
                      RangeCase{"TooHighOnOK", tk::IDOK, "129", "Please enter an integer between 1 and 128."},
                      RangeCase{"NotANumber", tk::IDOK, "x1", "Please enter an integer."}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SearchDialogTest, AHiddenPortOutOfRangeRefusesOKAndCancel) {
  CSearchDlg dlg;
  dlg.m_broadcastPort = 80;
  hl::ExpectMessageBox(
      "Please enter an integer between 1024 and 65535.");  // when the dialog reads its fields
  hl::ExpectModal("Searching", [&](CWnd& w) {
    hl::ExpectMessageBox("Please enter an integer between 1024 and 65535.");
    hl::Click(w, tk::IDOK);
    hl::ExpectMessageBox("Please enter an integer between 1024 and 65535.");
    hl::Click(w, tk::IDCANCEL);
    EXPECT_TRUE(w.IsWindow());
    dlg.EndDialog(tk::IDABORT);
  });
  EXPECT_EQ(dlg.DoModal(), tk::IDABORT);
}

TEST_F(SearchDialogTest, AnAddressOfMoreThan15CharactersCannotBeTyped) {
  CSearchDlg dlg;
  hl::ExpectModal("Searching", [](CWnd& w) {
    hl::Type(w, ids::kBroadcastAddress, "255.255.255.2555");
    EXPECT_EQ(w.GetDlgItem(ids::kBroadcastAddress).GetWindowText(), "255.255.255.255");
    hl::Click(w, tk::IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
}

TEST_F(SearchDialogTest, IPSearchDefaultsAndValidation) {
  CIPSearchDlg dlg;
  EXPECT_EQ(dlg.m_deviceAddress, "192.168.0.3");
  dlg.m_deviceAddress = "198.51.100.10";
  hl::ExpectModal("IP Searching", [](CWnd& w) {
    EXPECT_EQ(w.GetDlgItem(ids::kIpSearchAddress).GetWindowText(), "198.51.100.10");
    EXPECT_FALSE(w.GetDlgItem(ids::kIpSearchPort).IsWindowVisible());
    EXPECT_EQ(w.GetDlgItem(ids::kIpSearchPort).GetWindowText(), "25122");
    hl::Type(w, ids::kIpSearchAddress, "198.51.100.11");
    hl::Click(w, tk::IDOK);
  });
  ASSERT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(dlg.m_deviceAddress, "198.51.100.11");

  dlg.m_port = 1023;
  hl::ExpectModal("IP Searching", [&](CWnd& w) {
    hl::ExpectMessageBox("Please enter an integer between 1024 and 65535.");
    hl::Click(w, tk::IDCANCEL);
    EXPECT_TRUE(w.IsWindow());
    dlg.EndDialog(tk::IDABORT);
  });
  EXPECT_EQ(dlg.DoModal(), tk::IDABORT);
}

}  // namespace
}  // namespace corvane::protocol
