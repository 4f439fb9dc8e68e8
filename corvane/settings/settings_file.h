// The device settings text file: 27 lines for a one-port device, 40 for a
// two-port device, one value per line padded to 24 characters and followed by
// a fixed comment, CR LF line ends, no header. Which layout applies follows
// the row kind the sheet was opened for, never the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/settings/setting_items.h"

namespace corvane::settings {

// Load refuses anything larger.
constexpr std::size_t kMaxSettingsFileSize = 50000;
// Values are padded with spaces to this width.
constexpr std::size_t kValueWidth = 24;

// One line of a layout: the item it holds, whose value it is (0 device-wide,
// else port 1 or 2) and its comment, which ends the line.
struct FileLine {
  int item;
  int port;
  const char* comment;
};
// 27, 40, or 0 for a row kind with no layout.
int FileLineCount(int rowKind);
// Line `index` (0-based) of the layout of `rowKind`.
const FileLine& LayoutLine(int rowKind, int index);

// The value a line holds: the item text for the shown port and for
// device-wide lines, the store text for the other port.
const std::string& LineValue(const DeviceSettings& settings, int rowKind, const FileLine& line);

// The whole file for `rowKind`: each line's value comes from the item texts,
// or, for the port the pages do not show, from the store. Empty for a row kind
// with no layout.
std::string BuildSettingsFileText(const DeviceSettings& settings, int rowKind);

// Why `name` cannot be written to a settings file and read back whole (a
// space ends a value, a line break or other control character breaks or
// shifts the lines), as the message to show; nullopt when it can.
std::optional<std::string> NameFileFault(std::string_view name);

// The values of the first `count` lines of `data`. Each value runs up to the
// first space of its line (nor past the line's CR or LF, nor the end of the
// data). When the data holds a CR LF anywhere, lines end only at CR LF, so a
// stray CR or LF within a line shifts nothing; otherwise a line ends after its
// CR and the character that follows, or after a bare LF. Lines the data does
// not reach are nullopt.
std::vector<std::optional<std::string>> ReadFileValues(std::string_view data, int count);

// Applies the value of one-port line `item` + 1. False (and nothing changed)
// for an empty value, except for the lines whose value is never used.
// `dhcpShown` carries the DHCP choice from line 4 to lines 5 and 6.
bool ApplyItem(DeviceSettings& settings, int item, const std::string& text, int& dhcpShown);

// Applies the value of two-port line `field` + 1: a port-specific line goes to
// the item texts when it names the port the pages show and to the store
// otherwise. False for an empty value, except for lines 6, 10 and 11.
bool ApplyFileField(DeviceSettings& settings, int rowKind, int field, const std::string& text,
                    int& dhcpShown);

}  // namespace corvane::settings
