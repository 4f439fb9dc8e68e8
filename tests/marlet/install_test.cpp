// Adding a port through the installation file and the device-installation
// functions, against the simulated installer: the device created, its
// parameters, every failure's messages, and that a failure leaves no device.
#include <gtest/gtest.h>

#include "marlet/install/device_info_set.h"
#include "marlet_fixture.h"

namespace {

using marlet::sim::InstallStep;

// The parts a file may leave out, to build the cases from one text.
std::string InfText(bool withManufacturer = true, bool withClassGuid = true) {
  std::string text =
      "; the virtual serial port\n"
      "[Version]\n"
      "Signature=\"$WINDOWS NT$\"\n"
      "Class=Ports\n";
  if (withClassGuid) text += "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\n";
  text += "Provider=%Mfg%\n\n";
  if (withManufacturer) text += "[Manufacturer]\n%Mfg%=Models\n\n";
  text +=
      "[Models]\n"
      "%PortDesc%=VPort_Install, QN520xx\\VPort, QN520xx\\Compat ; first line, two IDs\n"
      "%PortDesc%=Other_Install, QN520xx\\Other\n\n"
      "[Strings]\n"
      "Mfg=\"Quanton\"\n"
      "PortDesc=\"Virtual Serial Port\"\n";
  return text;
}

class InstallTest : public MarletTest {
 protected:
  void SetUp() override {
    MarletTest::SetUp();
    installer.files["QN520xx.inf"] = InfText();
    installer.knownHardwareIds = {"QN520xx\\VPort"};
  }
  void TearDown() override {
    EXPECT_EQ(installer.openFiles(), 0);
    EXPECT_EQ(installer.openLists(), 0);
    MarletTest::TearDown();
  }
  int VirtualPorts() const { return static_cast<int>(driver.ports.size()); }
};

TEST_F(InstallTest, AddsADeviceWithTheFirstHardwareIdOfTheFirstModelLine) {
  marlet::InstallVirtualPort(installer, "QN520xx.inf");
  EXPECT_TRUE(Messages().empty());
  ASSERT_EQ(VirtualPorts(), 1);
  EXPECT_EQ(marlet::InstanceTextFromPath(driver.ports[0].path), "@root\\ports\\0000");
  // A one-entry multi-string: the ID and two NULs.
  EXPECT_EQ(installer.hardwareIdProperties, std::vector<std::string>{"QN520xx\\VPort||"});
  ASSERT_EQ(installer.writtenParams.size(), 1u);
  EXPECT_EQ(installer.writtenParams[0].flags, 0x01800000u);
  EXPECT_EQ(installer.writtenParams[0].flagsEx & 0x800u, 0x800u);
  EXPECT_EQ(installer.registeredDevices, 0);
}

TEST_F(InstallTest, AFileWithoutItsClassGuidTakesItFromTheClassName) {
  installer.files["QN520xx.inf"] = InfText(true, false);
  marlet::InstallVirtualPort(installer, "QN520xx.inf");
  EXPECT_TRUE(Messages().empty());
  ASSERT_EQ(installer.listClassGuids.size(), 1u);
  EXPECT_EQ(installer.listClassGuids[0], marlet::sim::kPortsClassGuid);
  EXPECT_EQ(VirtualPorts(), 1);
}

TEST_F(InstallTest, EachFailureShowsItsMessagesAndLeavesNoDevice) {
  const struct {
    const char* what;
    InstallStep step;  // fails with 0x57 (87)
    std::vector<std::string> messages;
  } cases[] = {
      {"open", InstallStep::kOpenInf, {"SetupOpenInfFile error, 87\n"}},
      {"class", InstallStep::kGetInfClass, {"SetupOpenInfFile error, 87\n"}},
      {"list", InstallStep::kCreateList, {"SetupDiCreateDeviceInfoList error, 87\n"}},
      {"device",
       InstallStep::kCreateDevice,
       {"SetupDiCreateDeviceInfo or SetupDiSetDeviceRegistryProperty error, 87\n"}},
      {"hwid",
       InstallStep::kSetHardwareId,
       {"SetupDiCreateDeviceInfo or SetupDiSetDeviceRegistryProperty error, 87\n"}},
      {"register", InstallStep::kRegister, {"SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, 87\n"}},
      {"get params",
       InstallStep::kGetParams,
       {"87", "SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, 1\n"}},
      {"set params",
       InstallStep::kSetParams,
       {"SetupDiSetDeviceInstallParams : 87", "SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, 1\n"}},
      {"driver list",
       InstallStep::kBuildDriverList,
       {"SetupDiBuildDriverInfoList : 87", "SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, 1\n"}},
      {"select",
       InstallStep::kSelectBest,
       {"SetupDiCallClassInstaller 0 : 87", "SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, 1\n"}},
      {"selected",
       InstallStep::kGetSelectedDriver,
       {"SetupDiGetSelectedDriver : 87", "SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, 1\n"}},
      {"install",
       InstallStep::kInstall,
       {"SetupDiCallClassInstaller : 87", "SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, 1\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = tk::headless::MessageBoxes().size();
    installer.failures = {{c.step, 87}};
    ExpectMessages(c.messages);
    marlet::InstallVirtualPort(installer, "QN520xx.inf");
    EXPECT_EQ(Messages(before), c.messages);
    EXPECT_EQ(VirtualPorts(), 0);
    EXPECT_EQ(installer.registeredDevices, 0);
  }
}

TEST_F(InstallTest, ModelSearchFailures) {
  const struct {
    const char* what;
    std::string text;
    std::string message;
  } cases[] = {
      // The platform's line-not-found code, 0xE0000102, in decimal.
      {"no Manufacturer section", InfText(false), "search for specified device error, -536870654\n"},
      {"empty models section", "[Version]\nClass=Ports\n[Manufacturer]\nM=Models\n[Models]\n",
       "search for specified device error, -536870654\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    installer.files["QN520xx.inf"] = c.text;
    ExpectMessages({c.message});
    marlet::InstallVirtualPort(installer, "QN520xx.inf");
    EXPECT_EQ(VirtualPorts(), 0);
  }
  // A wanted ID searches past the first line; nothing matching ends with 259.
  installer.files["QN520xx.inf"] = InfText();
  marlet::InfFile inf(installer);
  ASSERT_EQ(inf.Open("QN520xx.inf"), 0u);
  marlet::ModelMatch other{"QN520xx\\Other", 0};
  EXPECT_EQ(inf.FindModel(other), 0u);
  EXPECT_EQ(other.found, 1);
  marlet::ModelMatch none{"QN520xx\\Missing", 0};
  EXPECT_EQ(inf.FindModel(none), 259u);
  EXPECT_EQ(none.found, 0);
}

TEST_F(InstallTest, NoCompatibleDriverRemovesTheRegisteredDevice) {
  installer.knownHardwareIds.clear();
  // 0xE0000228 in decimal.
  ExpectMessages({"SetupDiCallClassInstaller 0 : -536870360",
                  "SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, 1\n"});
  marlet::InstallVirtualPort(installer, "QN520xx.inf");
  EXPECT_EQ(VirtualPorts(), 0);
  EXPECT_EQ(installer.registeredDevices, 0);
}

// The decoration rules: which models section Windows on each processor uses.
TEST(ModelsSection, FollowsTheDecorationsOfTheManufacturerLine) {
  const struct {
    std::vector<std::string> decorations;
    const char* architecture;
    const char* section;
  } cases[] = {
      {{}, "x86", "Models"},
      {{}, "amd64", ""},  // 64-bit Windows ignores an undecorated section
      {{"NTx86", "NTamd64"}, "x86", "Models.NTx86"},
      {{"NTx86", "NTamd64"}, "amd64", "Models.NTamd64"},
      {{"ntAMD64.10.0"}, "amd64", "Models.ntAMD64.10.0"},
      {{"NTx86"}, "amd64", ""},
      {{"NT", "NTamd64"}, "amd64", "Models.NTamd64"},
      {{"NT", "NTamd64"}, "x86", "Models.NT"},
      {{"NTamd64"}, "x86", "Models"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(marlet::ModelsSectionFor("Models", c.decorations, c.architecture), c.section)
        << c.architecture << " with " << c.decorations.size() << " decorations";
}

TEST_F(InstallTest, TakesTheModelOfTheSectionDecoratedForTheNativeProcessor) {
  std::string text = InfText();
  text.replace(text.find("%Mfg%=Models\n"), 13, "%Mfg%=Models,NTx86,NTamd64\n");
  text.replace(text.find("[Models]"), 8, "[Models.NTx86]\n%PortDesc%=X,QN520xx\\X86\n[Models.NTamd64]");
  installer.files["QN520xx.inf"] = text;
  installer.knownHardwareIds = {"QN520xx\\VPort", "QN520xx\\X86"};
  installer.nativeArchitecture = "amd64";
  marlet::InstallVirtualPort(installer, "QN520xx.inf");
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(installer.hardwareIdProperties, std::vector<std::string>{"QN520xx\\VPort||"});
}

}  // namespace
