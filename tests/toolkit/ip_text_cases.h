// Cases for the text of an IP address control, shared by the headless and the
// win32 tests so both backends are held to the same table: four decimal fields
// of 0-255 (leading zeros are decimal, as the control shows them); any other
// text leaves the control blank.
#pragma once

namespace tktest {

struct IpTextCase {
  const char* text;
  bool blank;
  unsigned address;
  const char* shown;
};

inline constexpr IpTextCase kIpTexts[] = {
    {"192.168.001.010", false, 0xC0A8010Au, "192.168.1.10"},
    {"10.0.0.7", false, 0x0A000007u, "10.0.0.7"},
    {"255.255.255.255", false, 0xFFFFFFFFu, "255.255.255.255"},
    {"", true, 0, ""},
    {"10.0", true, 0, ""},
    {"1.2.3.300", true, 0, ""},
    {"0x10.1.1.1", true, 0, ""},
    {"1.2.3.4.5", true, 0, ""},
    {"1.2.3.", true, 0, ""},
    {"1..2.3", true, 0, ""},
    {"1234.1.1.1", true, 0, ""},
};

}  // namespace tktest
