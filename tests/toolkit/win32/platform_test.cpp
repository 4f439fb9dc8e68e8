// Platform services under the real platform.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "win32_test_support.h"

namespace {

TEST(Platform, HostNameResolvesToAnIPv4Address) {
  std::string name;
  ASSERT_TRUE(tk::GetHostName(name));
  EXPECT_FALSE(name.empty());
  std::string dotted;
  ASSERT_TRUE(tk::ResolveFirstIPv4("localhost", dotted));
  EXPECT_EQ(dotted, "127.0.0.1");
  std::string unchanged = "kept";
  EXPECT_FALSE(tk::ResolveFirstIPv4("no-such-host.invalid", unchanged));
  EXPECT_EQ(unchanged, "kept");
  EXPECT_FALSE(tk::GetHostName(name, 0));
}

TEST(Platform, AdapterListReportsTheSizeItNeedsWhenTheBufferIsTooSmall) {
  std::vector<tk::AdapterInfo> adapters;
  unsigned long size = 0;
  unsigned long first = tk::GetAdaptersInfo(adapters, &size);
  if (first == tk::ERROR_NO_DATA) GTEST_SKIP() << "this machine reports no adapter";
  ASSERT_EQ(first, tk::ERROR_BUFFER_OVERFLOW);
  ASSERT_GE(size, tk::kAdapterRecordSize);
  unsigned long exact = size;
  ASSERT_EQ(tk::GetAdaptersInfo(adapters, &exact), tk::ERROR_SUCCESS);
  ASSERT_FALSE(adapters.empty());
  // One record per adapter, plus whatever the platform keeps for extra addresses.
  EXPECT_GE(size, adapters.size() * tk::kAdapterRecordSize);
  for (const tk::AdapterInfo& a : adapters) {
    EXPECT_NE(tk::InetAddr(a.firstAddress), 0xFFFFFFFFu) << a.firstAddress;
    EXPECT_NE(tk::InetAddr(a.firstMask), 0xFFFFFFFFu) << a.firstMask;
  }
  unsigned long small = size - 1;
  std::vector<tk::AdapterInfo> untouched;
  EXPECT_EQ(tk::GetAdaptersInfo(untouched, &small), tk::ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(small, size);
}

TEST(Platform, ParseDateFollowsTheVariantParser) {
  struct Case {
    const char* text;
    bool ok;
    double date;
  };
  const Case cases[] = {
      {"12/30/1899", true, 0.0},
      {"1/2/2024", true, 45293.0},
      {"1/2/2024 12:00:00", true, 45293.5},
      {"not a date", false, 0.0},
      {"", false, 0.0},
  };
  for (const Case& c : cases) {
    double date = -1;
    EXPECT_EQ(tk::ParseDate(c.text, date), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(date, c.date) << c.text;
    }
  }
}

TEST(Platform, TimeAndLocalTime) {
  std::time_t now = tk::CurrentTime();
  EXPECT_GT(now, 1600000000);
  std::tm local{};
  ASSERT_TRUE(tk::ToLocalTime(now, local));
  EXPECT_GE(local.tm_year, 120);
  EXPECT_LE(local.tm_hour, 23);
}

TEST(Platform, ResourcesMetricsAndColours) {
  EXPECT_NE(tk::LoadAppIcon(128), nullptr);
  EXPECT_NE(tk::LoadAppIcon(140), nullptr);
  EXPECT_EQ(tk::LoadAppIcon(9999), nullptr);
  EXPECT_EQ(tk::GetSystemMetrics(tk::SM_CXICON), 32);
  EXPECT_EQ(tk::GetSystemMetrics(tk::SM_CYICON), 32);
  EXPECT_EQ(tk::GetSysColor(tk::COLOR_WINDOW), tktest::PlatformSysColor(tk::COLOR_WINDOW));
  EXPECT_EQ(tk::FindTopLevelWindow("no window has this title"), nullptr);
}

// The folders programs are started from by full path, and which files count.
TEST(Platform, ProgramAndSystemFoldersAndTheirFiles) {
  const std::string self = tktest::PlatformProgramPath();
  ASSERT_FALSE(self.empty());
  const std::string folder = tk::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(self.rfind(folder + "\\", 0), 0u) << self;
  EXPECT_EQ(self.find_first_of("\\/", folder.size() + 1), std::string::npos) << self;
  const std::string system = tk::SystemFolder();
  ASSERT_FALSE(system.empty());
  const struct {
    std::string path;
    bool exists;
  } cases[] = {
      {self, true},
      {system + "\\cmd.exe", true},
      {system, false},  // a folder
      {system + "\\no-such-program-here.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(tk::FileExists(c.path), c.exists) << c.path;
}

TEST(Platform, HiddenProcessStartReportsSuccessAndFailure) {
  EXPECT_GT(tk::StartHiddenProcess("cmd.exe /c exit 0"), 31u);
  EXPECT_LE(tk::StartHiddenProcess("no-such-program-here.exe"), 31u);
}

TEST(Platform, HiddenProcessRunReportsTheExitCodeOrWhyThereIsNone) {
  tk::ProcessOutcome exited = tk::RunHiddenProcess("cmd.exe /c exit 3", 30000);
  EXPECT_EQ(exited.state, tk::ProcessState::kExited);
  EXPECT_EQ(exited.exitCode, 3u);
  tk::ProcessOutcome missing = tk::RunHiddenProcess("no-such-program-here.exe", 30000);
  EXPECT_EQ(missing.state, tk::ProcessState::kNotStarted);
  EXPECT_NE(missing.error, 0u);
}

}  // namespace
