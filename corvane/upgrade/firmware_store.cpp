// The firmware-path store. Lines are read whole: a path of any length must
// neither be cut nor push its tail into the address line.
#include "corvane/upgrade/firmware_store.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "tk/socket.h"

namespace corvane::upgrade {

namespace {

// One line without its end; a store written on Windows and read elsewhere
// still ends its lines with "\r".
std::string ReadLine(std::istream& in) {
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<FirmwareStore> ReadFirmwareStore(const std::string& fileName) {
  std::ifstream in(fileName);
  if (!in) return std::nullopt;
  FirmwareStore store;
  store.path = ReadLine(in);
  store.addressText = ReadLine(in);
  if (in.bad()) return std::nullopt;  // opened but not readable, such as a directory
  return store;
}

bool WriteFirmwareStore(const std::string& path, std::uint32_t address, const std::string& fileName) {
  std::FILE* file = std::fopen(fileName.c_str(), "w");
  if (!file) return false;
  std::fprintf(file, "%s\n", path.c_str());
  std::fprintf(file, "%u.%u.%u.%u\n", (address >> 24) & 0xFFu, (address >> 16) & 0xFFu,
               (address >> 8) & 0xFFu, address & 0xFFu);
  return std::fclose(file) == 0;
}

std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::uint32_t StoreAddress(const std::string& addressText) {
  return tk::InetAddr(addressText);
}

}  // namespace corvane::upgrade
