// Platform services from the test's settings, and the inet_addr parse.
#include <string>
#include <vector>

#include "headless_test.h"
#include "tk/tk.h"

namespace {

using namespace tk;
namespace hl = tk::headless;

class PlatformTest : public HeadlessTest {};

TEST_F(PlatformTest, AdapterListNeedsABufferLargeEnough) {
  hl::Platform().adapters = {{"eth0", "Wired", "198.51.100.2", "255.255.255.0"},
                             {"eth1", "Wireless", "203.0.113.9", "255.255.255.128"}};
  std::vector<AdapterInfo> adapters;
  unsigned long size = kAdapterRecordSize;  // room for one record only
  EXPECT_EQ(GetAdaptersInfo(adapters, &size), ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(size, 2 * kAdapterRecordSize);
  EXPECT_TRUE(adapters.empty());
  EXPECT_EQ(GetAdaptersInfo(adapters, &size), ERROR_SUCCESS);
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[1].firstMask, "255.255.255.128");
  hl::Platform().adaptersError = 1232;
  EXPECT_EQ(GetAdaptersInfo(adapters, &size), 1232u);
  hl::Platform().adaptersError = 0;
  hl::Platform().adapters.clear();
  EXPECT_EQ(GetAdaptersInfo(adapters, &size), ERROR_NO_DATA);
  EXPECT_NE(GetAdaptersInfo(adapters, nullptr), ERROR_SUCCESS);
}

TEST_F(PlatformTest, HostNameAndItsAddress) {
  hl::Platform().hostName = "bench-pc";
  hl::Platform().hostAddresses = {"198.51.100.2", "10.0.0.1"};
  std::string name;
  ASSERT_TRUE(GetHostName(name));
  EXPECT_EQ(name, "bench-pc");
  EXPECT_FALSE(GetHostName(name, 8));  // no room for the terminator
  std::string dotted;
  ASSERT_TRUE(ResolveFirstIPv4("bench-pc", dotted));
  EXPECT_EQ(dotted, "198.51.100.2");
  EXPECT_FALSE(ResolveFirstIPv4("elsewhere", dotted));
  hl::Platform().hostAddresses.clear();
  EXPECT_FALSE(ResolveFirstIPv4("bench-pc", dotted));
  hl::Platform().hostNameFails = true;
  EXPECT_FALSE(GetHostName(name));
  hl::Platform().socketsStartupFails = true;
  EXPECT_FALSE(AfxSocketInit());
}

TEST_F(PlatformTest, ProcessesUrlsAndBeepsAreRecordedNotRun) {
  hl::Platform().processStartResult = 2;
  EXPECT_EQ(StartHiddenProcess("arp -d"), 2u);
  EXPECT_EQ(ShellOpen("http://198.51.100.7/setting.htm"), 42);
  EXPECT_TRUE(Beep(5000, 100));
  EXPECT_EQ(hl::StartedProcesses(), std::vector<std::string>{"arp -d"});
  EXPECT_EQ(hl::OpenedUrls(), std::vector<std::string>{"http://198.51.100.7/setting.htm"});
  ASSERT_EQ(hl::Beeps().size(), 1u);
  EXPECT_EQ(hl::Beeps()[0].frequency, 5000u);
  hl::Reset();
  EXPECT_TRUE(hl::StartedProcesses().empty());
}

TEST_F(PlatformTest, ResourcesMetricsAndColours) {
  HICON a = LoadAppIcon(128);
  EXPECT_EQ(LoadAppIcon(128), a);
  EXPECT_NE(LoadAppIcon(129), a);
  EXPECT_EQ(hl::IconResourceId(a), 128);
  EXPECT_EQ(hl::IconResourceId(nullptr), 0);
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
  EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), RGB(0, 0, 0));
}

struct InetCase {
  const char* text;
  std::uint32_t address;
};

class InetAddrTest : public ::testing::TestWithParam<InetCase> {};

TEST_P(InetAddrTest, ParsesLikeInetAddr) {
  EXPECT_EQ(InetAddr(GetParam().text), GetParam().address) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InetAddrTest,
    ::testing::Values(InetCase{"192.168.1.254", 0xC0A801FEu}, InetCase{"0.0.0.0", 0},
                      InetCase{"255.255.255.255", 0xFFFFFFFFu}, InetCase{"225.1.2.3", 0xE1010203u},
                      InetCase{"10.1", 0x0A000001u}, InetCase{"10.1.2", 0x0A010002u},
                      InetCase{"0x7f.1", 0x7F000001u}, InetCase{"010.0.0.1", 0x08000001u},
                      InetCase{"1.2.3.4 ", 0x01020304u}, InetCase{"256.1.1.1", 0xFFFFFFFFu},
                      InetCase{"1.2.3.4.5", 0xFFFFFFFFu}, InetCase{"1.2.3.", 0xFFFFFFFFu},
                      InetCase{"", 0xFFFFFFFFu}, InetCase{"1.2.3.4x", 0xFFFFFFFFu},
                      InetCase{"09.1.1.1", 0xFFFFFFFFu}, InetCase{"1.2.65536", 0xFFFFFFFFu},
                      InetCase{"4294967296", 0xFFFFFFFFu}, InetCase{"0x", 0xFFFFFFFFu},
                      InetCase{"-1.2.3.4", 0xFFFFFFFFu}));

TEST(InetNtoaTest, FirstOctetIsTheHighByte) {
  EXPECT_EQ(InetNtoa(0xC0A801FEu), "192.168.1.254");
  EXPECT_EQ(InetNtoa(0), "0.0.0.0");
}

}  // namespace
