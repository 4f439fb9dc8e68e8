// The "Firmware Upgrade" dialog and its store "fwupdate.dat", run in a
// directory of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "corvane/upgrade/firmware_store.h"
#include "corvane/upgrade/upgrade_dlg.h"
#include "headless_test.h"

namespace corvane::upgrade {
namespace {

namespace fs = std::filesystem;
namespace hl = tk::headless;
using tk::CWnd;

class UpgradeDialog : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    m_home = fs::current_path();
    m_dir = fs::temp_directory_path() /
            ("upgrade_dlg_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    fs::current_path(m_dir);
  }
  void TearDown() override {
    fs::current_path(m_home);
    fs::remove_all(m_dir);
    HeadlessTest::TearDown();
  }
  static void WriteStore(const std::string& content) {
    std::ofstream(kFirmwareStoreName, std::ios::binary) << content;
  }
  static std::string StoreText() {
    std::ifstream in(kFirmwareStoreName, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  static std::string AddressShown(CWnd& w) {
    tk::CIPAddressCtrl ctrl(w.GetDlgItem(ids::kBootLoaderAddress));
    if (ctrl.IsBlank()) return "blank";
    tk::DWORD a = 0;
    ctrl.GetAddress(a);
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
           std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
  }

 private:
  fs::path m_home, m_dir;
};

// What an opening shows for each store, and that OK then writes the path held
// and the address shown, each on a line of its own.
TEST_F(UpgradeDialog, OpeningShowsTheStoreAndOkWritesItBack) {
  const std::string p127 = "C:\\" + std::string(118, 'f') + "\\a.bin";
  const std::string p128 = "D:/" + std::string(119, 'g') + "/a.bin";
  ASSERT_EQ(p127.size(), 127u);
  ASSERT_EQ(p128.size(), 128u);
  struct Case {
    const char* name;
    std::optional<std::string> store;  // nothing: no file
    std::string path, address, written;
  } cases[] = {
      {"missing", std::nullopt, "", "blank", "\n0.0.0.0\n"},
      {"plain", "C:\\fw\\x.bin\n192.168.0.3\n", "C:\\fw\\x.bin", "192.168.0.3",
       "C:\\fw\\x.bin\n192.168.0.3\n"},
      {"slashes", "C:/fw/x.bin\n10.1.2.3\n", "C:\\fw\\x.bin", "10.1.2.3", "C:\\fw\\x.bin\n10.1.2.3\n"},
      {"127 chars", p127 + "\n10.0.0.9\n", p127, "10.0.0.9", p127 + "\n10.0.0.9\n"},
      {"128 chars", p128 + "\n10.0.0.8\n", WithBackslashes(p128), "10.0.0.8",
       WithBackslashes(p128) + "\n10.0.0.8\n"},
      {"windows line ends", "a.bin\r\n10.0.0.5\r\n", "a.bin", "10.0.0.5", "a.bin\n10.0.0.5\n"},
      {"bad address", "a.bin\nnot an address\n", "a.bin", "255.255.255.255", "a.bin\n255.255.255.255\n"},
      {"no address line", "a.bin", "a.bin", "255.255.255.255", "a.bin\n255.255.255.255\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(kFirmwareStoreName);
    if (c.store) WriteStore(*c.store);
    CUpgradeDlg dlg;
    if (!c.store) hl::ExpectMessageBox(kMsgStoreUnreadable);
    hl::ExpectModal("Firmware Upgrade", [&](CWnd& w) {
      EXPECT_EQ(static_cast<tk::CDialog&>(w).GetDlgItemText(ids::kFirmwarePath), c.path);
      EXPECT_EQ(AddressShown(w), c.address);
      EXPECT_FALSE(w.GetDlgItem(ids::kBootLoaderAddress).IsWindowEnabled());
      hl::Click(w, tk::IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), tk::IDOK);
    EXPECT_EQ(StoreText(), c.written);
    if (!c.store) {
      EXPECT_EQ(hl::MessageBoxes().back().caption, "ERROR");
    }
  }
}

// A path is written only when it reads back as it was; the old store is then
// left as it was.
TEST_F(UpgradeDialog, StoreWritesOnlyPathsThatReadBackWhole) {
  struct Case {
    std::string path;
    bool written;
  } cases[] = {
      {"C:\\fw\\x.bin", true},
      {std::string("C:\\fw\0tail.bin", 14), false},
      {"C:\\fw\\x.bin\r", false},
      {"C:\\fw\nx.bin", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    WriteStore("old.bin\n10.0.0.1\n");
    EXPECT_EQ(WriteFirmwareStore(c.path, 0x0A000005), c.written);
    const auto store = ReadFirmwareStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->path, c.written ? c.path : "old.bin");
    EXPECT_EQ(store->addressText, c.written ? "10.0.0.5" : "10.0.0.1");
  }
}

// Without a ticked row the address can be edited; a typed path is saved as
// typed; browse offers .bin files and fills the path; the icon comes from 1134.
TEST_F(UpgradeDialog, NoSelectionModeBrowseAndSavedTyping) {
  WriteStore("old.bin\n10.0.0.1\n");
  CUpgradeDlg dlg;
  dlg.m_noSelection = 1;
  hl::ExpectFileDialog([](const hl::FileDialogCall& call, std::string& path) {
    EXPECT_TRUE(call.open);
    EXPECT_EQ(call.defaultExt, "*.bin");
    EXPECT_EQ(call.filter, "Binary files(*.bin)|*.bin|");
    EXPECT_NE(call.flags & tk::OFN_HIDEREADONLY, 0u);
    path = "C:\\images\\new.bin";
    return tk::IDOK;
  });
  hl::ExpectModal("Firmware Upgrade", [](CWnd& w) {
    EXPECT_TRUE(w.GetDlgItem(ids::kBootLoaderAddress).IsWindowEnabled());
    EXPECT_EQ(hl::IconResourceId(tk::CButton(w.GetDlgItem(ids::kBrowse)).GetIcon()), kBrowseIconResource);
    hl::Click(w, ids::kBrowse);
    EXPECT_EQ(static_cast<tk::CDialog&>(w).GetDlgItemText(ids::kFirmwarePath), "C:\\images\\new.bin");
    hl::Type(w, ids::kFirmwarePath, "E:/fw/typed.bin");
    hl::Type(w, ids::kBootLoaderAddress, "198.51.100.20");
    hl::Click(w, tk::IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(StoreText(), "E:/fw/typed.bin\n198.51.100.20\n");
  EXPECT_EQ(dlg.m_firmwarePath, "E:/fw/typed.bin");

  // A store that cannot be written is reported and the dialog still closes.
  fs::remove(kFirmwareStoreName);
  fs::create_directory(kFirmwareStoreName);
  hl::ExpectMessageBox(kMsgStoreUnreadable);
  hl::ExpectMessageBox(kMsgStoreUnwritable);
  hl::ExpectModal("Firmware Upgrade", [](CWnd& w) {
    EXPECT_EQ(static_cast<tk::CDialog&>(w).GetDlgItemText(ids::kFirmwarePath),
              "E:/fw/typed.bin");  // kept from the last opening
    EXPECT_EQ(AddressShown(w), "198.51.100.20");
    hl::Click(w, tk::IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
}

// OK and Cancel refuse a period outside 10 to 1000 and keep the dialog open.
TEST_F(UpgradeDialog, PeriodOutsideItsRangeKeepsTheDialogOpen) {
  WriteStore("a.bin\n10.0.0.1\n");
  for (int button : {tk::IDOK, tk::IDCANCEL}) {
    CUpgradeDlg dlg;
    hl::ExpectModal("Firmware Upgrade", [button](CWnd& w) {
      EXPECT_EQ(static_cast<tk::CDialog&>(w).GetDlgItemText(ids::kUpgradePeriod), "10");
      for (const char* bad : {"9", "1001"}) {
        hl::Type(w, ids::kUpgradePeriod, bad);
        hl::ExpectMessageBox("Please enter an integer between 10 and 1000.");
        hl::Click(w, button);
      }
      hl::Type(w, ids::kUpgradePeriod, "1000");
      hl::Click(w, button);
    });
    EXPECT_EQ(dlg.DoModal(), button);
    EXPECT_EQ(dlg.m_upgradePeriod, 1000);
  }
}

}  // namespace
}  // namespace corvane::upgrade
