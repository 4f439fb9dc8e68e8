// The settings file: golden layouts, round trips and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "corvane/settings/encoding.h"
#include "corvane/settings/settings_file.h"
#include "settings_fixtures.h"

namespace {

using namespace corvane;
using namespace corvane::settings;
using settings_fixtures::OnePortSettings;
using settings_fixtures::TwoPortRecord;

std::string Golden(const char* name) {
  std::ifstream in(std::string(SETTINGS_GOLDEN_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DeviceSettings TwoPortSettings(int rowKind) {
  DeviceSettings s;
  EXPECT_TRUE(DecodeRecord(protocol::EncodeRecord(TwoPortRecord()), rowKind, 0, s));
  s.items[kDns] = "";
  return s;
}

// Loads `text` into `s` the way the sheet does; returns the count of failed lines.
int Load(DeviceSettings& s, int rowKind, const std::string& text) {
  int failures = 0;
  int dhcpShown = 0;
  const auto values = ReadFileValues(text, FileLineCount(rowKind));
  for (int i = 0; i < static_cast<int>(values.size()); ++i) {
    if (!values[static_cast<std::size_t>(i)]) continue;
    const std::string& v = *values[static_cast<std::size_t>(i)];
    const bool ok = rowKind == kSinglePortRow ? ApplyItem(s, i, v, dhcpShown)
                                              : ApplyFileField(s, rowKind, i, v, dhcpShown);
    if (!ok) ++failures;
  }
  return failures;
}

TEST(SettingsFile, SavedTextMatchesTheGoldenFiles) {
  EXPECT_EQ(BuildSettingsFileText(OnePortSettings(), kSinglePortRow), Golden("one_port.log"));
  // The same two-port device saved from either row gives the same file.
  EXPECT_EQ(BuildSettingsFileText(TwoPortSettings(kSecondPortRow), kSecondPortRow), Golden("two_port.log"));
  EXPECT_EQ(BuildSettingsFileText(TwoPortSettings(kFirstPortRow), kFirstPortRow), Golden("two_port.log"));
  EXPECT_EQ(BuildSettingsFileText(OnePortSettings(), 0), "");
}

// Saving and loading into other values restores everything but the MAC address
// and the current address, which always come from the device.
TEST(SettingsFile, SaveThenLoadRestoresEveryLoadedSetting) {
  const struct {
    int rowKind;
    DeviceSettings saved;
  } cases[] = {{kSinglePortRow, OnePortSettings()},
               {kFirstPortRow, TwoPortSettings(kFirstPortRow)},
               {kSecondPortRow, TwoPortSettings(kSecondPortRow)}};
  for (const auto& c : cases) {
    DeviceSettings target;
    target.items.fill("9");
    target.items[kMacAddress] = "MAC-OF-TARGET";
    target.items[kDynamicIp] = "1.1.1.1";
    for (auto* store : {&target.store.port1, &target.store.port2}) store->fill("9");
    EXPECT_EQ(Load(target, c.rowKind, BuildSettingsFileText(c.saved, c.rowKind)),
              c.rowKind == kSinglePortRow ? 0 : 1)
        << "only the empty DNS line of the two-port file fails";
    DeviceSettings expected = c.saved;
    expected.items[kMacAddress] = "MAC-OF-TARGET";
    expected.items[kDynamicIp] = "1.1.1.1";
    expected.items[kBroadcastListenPort] = expected.items[kMulticastListenPort] = "9";
    if (c.rowKind != kSinglePortRow) expected.items[kDns] = "9";
    // The set of the port the pages show is not in the file's reach.
    if (c.rowKind != kSecondPortRow) expected.store.port1 = target.store.port1;
    if (c.rowKind != kFirstPortRow) expected.store.port2 = target.store.port2;
    EXPECT_EQ(target, expected) << "row kind " << c.rowKind;
  }
}

TEST(SettingsFile, EachLineGoesToThePortItNames) {
  const std::string file = BuildSettingsFileText(TwoPortSettings(kSecondPortRow), kSecondPortRow);
  DeviceSettings fromFirstRow;
  Load(fromFirstRow, kFirstPortRow, file);
  EXPECT_EQ(fromFirstRow.items[kDataPort], "4001");
  EXPECT_EQ(fromFirstRow.store.port2[kStoreDataPort], "4002");
  EXPECT_EQ(fromFirstRow.store.port2[kStoreTransferMode], "1") << "line 40";
  EXPECT_NE(BuildSettingsFileText(fromFirstRow, kFirstPortRow).find("1                        // (40)"),
            std::string::npos);
}

TEST(SettingsFile, EmptyValuesFailExceptWhereTheValueIsNeverUsed) {
  for (int item = 0; item < kItemCount; ++item) {
    DeviceSettings s = OnePortSettings();
    int dhcpShown = 0;
    const bool ok = ApplyItem(s, item, "", dhcpShown);
    EXPECT_EQ(ok, item == kDynamicIp || item == kBroadcastListenPort || item == kMulticastListenPort) << item;
    EXPECT_EQ(s, OnePortSettings()) << item;
  }
  DeviceSettings s;
  int dhcpShown = 0;
  for (int field : {5, 9, 10}) EXPECT_TRUE(ApplyFileField(s, kFirstPortRow, field, "", dhcpShown)) << field;
  EXPECT_FALSE(ApplyFileField(s, kFirstPortRow, 8, "", dhcpShown)) << "port 2 data port, stored";
}

TEST(SettingsFile, LoadedNumbersTakeTheMembersType) {
  DeviceSettings s;
  int dhcpShown = 0;
  ApplyItem(s, kDataPort, "4001abc", dhcpShown);
  ApplyItem(s, kDhcp, "5", dhcpShown);
  ApplyItem(s, kTransferMode, "7", dhcpShown);
  ApplyItem(s, kDestPort, "-1", dhcpShown);
  EXPECT_EQ(s.items[kDataPort], "4001");
  EXPECT_EQ(s.items[kDhcp], "5");
  EXPECT_EQ(dhcpShown, 1);
  EXPECT_EQ(s.items[kTransferMode], "1");
  EXPECT_EQ(s.items[kDestPort], "4294967295")
      << "an unsigned member, refused later by the page's range check";
}

TEST(SettingsFile, HostileDataNeverReadsPastItsEnd) {
  const std::string golden = Golden("one_port.log");
  std::string binary;
  for (int i = 0; i < 600; ++i) binary += static_cast<char>((i * 37) & 0xFF);
  const struct {
    const char* name;
    std::string data;
    std::vector<std::optional<std::string>> firstValues;  // the rest are checked for count only
    int present;                                          // lines that exist
  } cases[] = {
      {"empty", "", {std::nullopt}, 0},
      {"no CR", "AB // name\nCD // next\n", {"AB", "CD", std::nullopt}, 2},
      {"value only", "AB", {"AB", std::nullopt}, 1},
      {"no spaces", "AB\r\nCD\r\nEF", {"AB", "CD", "EF", std::nullopt}, 3},
      {"cut mid-line", golden.substr(0, 54), {"AB", "02-00-5E", std::nullopt}, 2},
      {"CR as the last byte", "AB\r", {"AB", std::nullopt}, 1},
      {"LF inside a CR LF line", "AB\nCD // (1)\r\nEF // (2)\r\n", {"AB", "EF", std::nullopt}, 2},
      {"CR inside a CR LF line", "AB\rCD // (1)\r\nEF // (2)\r\n", {"AB", "EF", std::nullopt}, 2},
      {"binary", binary, {}, -1},
  };
  for (const auto& c : cases) {
    const auto values = ReadFileValues(c.data, kItemCount);
    ASSERT_EQ(values.size(), static_cast<std::size_t>(kItemCount)) << c.name;
    for (std::size_t i = 0; i < c.firstValues.size(); ++i)
      EXPECT_EQ(values[i], c.firstValues[i]) << c.name << i;
    if (c.present >= 0) {
      EXPECT_EQ(std::count_if(values.begin(), values.end(), [](const auto& v) { return v.has_value(); }),
                c.present)
          << c.name;
    }
  }
}

}  // namespace
