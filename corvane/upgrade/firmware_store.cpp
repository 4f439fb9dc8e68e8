// The firmware-path store. Lines are read whole: a path of any length must
// neither be cut nor push its tail into the address line; a path that could
// not be read back as it was written is not written.
#include "corvane/upgrade/firmware_store.h"

#include <algorithm>
#include <cstdio>

#include "fileio/whole_file.h"
#include "tk/socket.h"

namespace corvane::upgrade {

namespace {

// The store is a text file: the platform's line end.
#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

// Far beyond any path; the store is never this large.
constexpr std::size_t kStoreLimit = 1 << 20;

// The line at `pos` without its end, moving `pos` past it; a store written on Windows and read
// elsewhere still ends its lines with "\r".
std::string LineOf(const std::string& data, std::size_t& pos) {
  if (pos >= data.size()) return {};
  std::size_t end = data.find('\n', pos);
  if (end == std::string::npos) end = data.size();
  std::string line = data.substr(pos, end - pos);
  pos = end + 1;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<FirmwareStore> ReadFirmwareStore(const std::string& fileName) {
  const fileio::ReadResult read = fileio::ReadWholeFile(fileName, kStoreLimit);
  if (read.fault != fileio::FileFault::None) return std::nullopt;
  FirmwareStore store;
  std::size_t pos = 0;
  store.path = LineOf(read.data, pos);
  store.addressText = LineOf(read.data, pos);
  return store;
}

bool StorablePath(const std::string& path) {
  // A NUL would cut the line, a CR or LF break it or be taken for its end.
  return path.find_first_of(std::string("\0\r\n", 3)) == std::string::npos;
}

bool WriteFirmwareStore(const std::string& path, std::uint32_t address, const std::string& fileName) {
  if (!StorablePath(path)) return false;
  char addressText[16];
  std::snprintf(addressText, sizeof addressText, "%u.%u.%u.%u", (address >> 24) & 0xFFu,
                (address >> 16) & 0xFFu, (address >> 8) & 0xFFu, address & 0xFFu);
  const std::string text = path + kLineEnd + addressText + kLineEnd;
  return fileio::WriteWholeFile(fileName, text) == fileio::FileFault::None;
}

std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::uint32_t StoreAddress(const std::string& addressText) {
  return tk::InetAddr(addressText);
}

}  // namespace corvane::upgrade
