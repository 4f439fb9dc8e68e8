// Save and Load of the setup sheet against real files in a scratch folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "corvane/setup/setup_ids.h"
#include "headless_test.h"
#include "settings_fixtures.h"
#include "sheet_host.h"

namespace {

using namespace corvane;
using namespace setup_test;
namespace hl = tk::headless;
namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteAll(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}
std::string Golden(const char* name) {
  return ReadAll(fs::path(SETTINGS_GOLDEN_DIR) / name);
}

class SetupFileTest : public HeadlessTest {
 protected:
  SheetHost host;
  fs::path dir = fs::temp_directory_path() / ("corvane_setup_test_" + std::to_string(getpid()));

  void SetUp() override {
    HeadlessTest::SetUp();
    fs::create_directories(dir);
    // The one-port device of golden/one_port.log, as it answers a search.
    protocol::DeviceRecord r = settings_fixtures::TwoPortRecord();
    r.portCount = 1;
    r.mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};
    r.dynamicIp = 0xC0A8004D;  // 192.168.0.77
    host.SetRecord(protocol::EncodeRecord(r));
  }
  void TearDown() override {
    fs::remove_all(dir);
    HeadlessTest::TearDown();
  }

  // Answers the next file dialog with `path` (empty: cancel) and records its call.
  hl::FileDialogCall lastDialog;
  void ChooseFile(const fs::path& path) {
    hl::ExpectFileDialog([this, path](const hl::FileDialogCall& call, std::string& chosen) {
      lastDialog = call;
      chosen = path.string();
      return path.empty() ? tk::IDCANCEL : tk::IDOK;
    });
  }
  void Save(tk::CPropertySheet& sheet, const fs::path& path, const std::string& message = "File saved.") {
    ChooseFile(path);
    hl::ExpectMessageBox(message);
    hl::Click(sheet, tk::IDCANCEL);
  }
  void Load(tk::CPropertySheet& sheet, const fs::path& path) {
    ChooseFile(path);
    hl::Click(sheet, tk::ID_APPLY_NOW);
  }
  std::string Name() { return host.sheet.ReadItem(0); }
};

TEST_F(SetupFileTest, LoadThenSaveGivesTheGoldenFileBack) {
  const fs::path out = dir / "one.log";
  WriteAll(out, std::string(3000, 'x'));  // an older, longer file
  host.Run([&](tk::CPropertySheet& sheet) {
    Load(sheet, fs::path(SETTINGS_GOLDEN_DIR) / "one_port.log");
    EXPECT_TRUE(lastDialog.open);
    EXPECT_EQ(lastDialog.fileName, "Probent_Setting_Prototype");
    EXPECT_EQ(Name(), "AB");
    Save(sheet, out);
    EXPECT_FALSE(lastDialog.open);
    EXPECT_EQ(lastDialog.defaultExt, "log");
    EXPECT_EQ(lastDialog.fileName, "CVN_Setting_Prototype");
    EXPECT_EQ(lastDialog.flags, tk::OFN_HIDEREADONLY);
    EXPECT_EQ(lastDialog.filter, "Log files (*.log)|*.log|");
    hl::CloseBox(sheet);
  });
  EXPECT_EQ(ReadAll(out), Golden("one_port.log"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
      << "no temporary file left";
}

TEST_F(SetupFileTest, TwoPortFileFromTheSecondRowLoadsIntoTheFirstRow) {
  host.SetRecord(protocol::EncodeRecord(settings_fixtures::TwoPortRecord()));
  host.rowKind = 22;
  const fs::path out = dir / "two.log";
  host.Run([&](tk::CPropertySheet& sheet) {
    Save(sheet, out);
    hl::CloseBox(sheet);
  });
  std::string expected = Golden("two_port.log");
  const std::string emptyDns = std::string(24, ' ') + " // (25)";
  expected.replace(expected.find(emptyDns), 24, "0.0.0.0" + std::string(17, ' '));
  expected[expected.find(" // (18)") - 24] = '0';  // port 2 is a client: auto connect is cleared
  EXPECT_EQ(ReadAll(out), expected);

  host.rowKind = 21;
  host.Run([&](tk::CPropertySheet& sheet) {
    hl::Type(host.sheet.NetworkPage(), setup::ids::kDataPort, "4444");
    Load(sheet, out);
    EXPECT_EQ(host.sheet.ReadItem(6), "4001") << "line 8 is port 1's";
    EXPECT_EQ(host.sheet.Store().port2[settings::kStoreDataPort], "4002") << "line 9 is port 2's";
    EXPECT_EQ(host.sheet.Store().port2[settings::kStoreTransferMode], "1");
    hl::CloseBox(sheet);
  });
}

TEST_F(SetupFileTest, RefusedOrFailedSavesLeaveFilesAsTheyWere) {
  const fs::path existing = dir / "keep.log";
  WriteAll(existing, "old content\r\n");
  host.Run([&](tk::CPropertySheet& sheet) {
    hl::Type(host.sheet.NetworkPage(), setup::ids::kDeviceName, "Lab 1");
    for (const fs::path& p : {existing, dir / "new.log"}) {
      Save(sheet, p, "1. Device name must LESS THAN 16 LETTERS\n2. NO SPACES between the letters.");
    }
    // A line break in the name would shift every following line of the file.
    for (const char* name : {"AB\nCD", "AB\rCD", "AB\tCD"}) {
      hl::Type(host.sheet.NetworkPage(), setup::ids::kDeviceName, name);
      Save(sheet, existing,
           "The device name contains a control character (such as a line break) and cannot be saved to a "
           "file. Change the name first.");
    }
    const fs::path nowhere = dir / "missing-folder" / "x.log";
    hl::Type(host.sheet.NetworkPage(), setup::ids::kDeviceName, "Lab1");
    Save(sheet, nowhere, "Failed to open file" + nowhere.string());
    ChooseFile({});
    hl::Click(sheet, tk::IDCANCEL);  // the save dialog cancelled: nothing at all
    hl::CloseBox(sheet);
  });
  EXPECT_EQ(ReadAll(existing), "old content\r\n");
  EXPECT_FALSE(fs::exists(dir / "new.log"));
  ASSERT_EQ(hl::Beeps().size(), 1u);
  EXPECT_EQ(hl::Beeps()[0].frequency, 5000u);
  EXPECT_EQ(hl::Beeps()[0].duration, 100u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(SetupFileTest, LoadRefusesLargeFilesAndLeavesMissingLinesUnchanged) {
  const std::string golden = Golden("one_port.log");
  const fs::path exact = dir / "exact.log";
  const fs::path large = dir / "large.log";
  const fs::path cut = dir / "cut.log";
  WriteAll(exact, golden + std::string(50000 - golden.size(), 'z'));
  WriteAll(large, golden + std::string(50001 - golden.size(), 'z'));
  WriteAll(cut, "CD" + golden.substr(2, golden.find("// ( 3)") - 2));  // line 3 lacks its CR
  host.Run([&](tk::CPropertySheet& sheet) {
    const std::string before = Name();
    hl::ExpectMessageBox("File size is too large!!");
    Load(sheet, large);
    EXPECT_EQ(Name(), before);
    Load(sheet, exact);
    EXPECT_EQ(Name(), "AB");
    hl::ExpectMessageBox("Item is empty!!");  // once, for all the lines the file lacks
    Load(sheet, cut);
    EXPECT_EQ(Name(), "CD");
    EXPECT_EQ(host.sheet.ReadItem(10), "4002");
    EXPECT_EQ(host.sheet.ReadItem(5), "192.168.0.50");
    hl::CloseBox(sheet);
  });
}

}  // namespace
