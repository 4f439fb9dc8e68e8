// "fwupdate.dat": the firmware path and the boot-loader address kept between
// runs, two lines in the current directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::upgrade {

inline constexpr const char* kFirmwareStoreName = "fwupdate.dat";

struct FirmwareStore {
  std::string path;         // line 1 as written
  std::string addressText;  // line 2, the dotted boot-loader address
};

// Reads both lines whole (any length), without their line ends. Nothing when
// the file cannot be opened; a missing line reads as empty.
std::optional<FirmwareStore> ReadFirmwareStore(const std::string& fileName = kFirmwareStoreName);

// True when `path` can be written as a line and read back as it was: no NUL,
// CR or LF in it.
bool StorablePath(const std::string& path);

// Writes the path and the address (first octet in the high byte) as two lines,
// replacing the file whole; false when it cannot be written or the path is not
// storable (the old file is then left as it was).
bool WriteFirmwareStore(const std::string& path, std::uint32_t address,
                        const std::string& fileName = kFirmwareStoreName);

// The path as the dialog shows it: every "/" becomes "\".
std::string WithBackslashes(std::string path);

// The address of a store line: inet_addr rules, so text that is not an address
// gives 255.255.255.255.
std::uint32_t StoreAddress(const std::string& addressText);

}  // namespace corvane::upgrade
