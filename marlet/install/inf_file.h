// InfFile: one open installation file and the class it names. ModelMatch: the
// search for the hardware ID of the device to create.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "marlet/install/install_platform.h"

namespace marlet {

constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr int kClassNameBufferSize = 64;

struct ModelMatch {
  std::string hardwareId;  // wanted (empty: the first found); on a match, the one found
  int found = 0;
};

// The models section that a Manufacturer line (its models section and the
// target decorations after it, such as "NTx86" or "NTamd64.10.0") names for
// Windows on `architecture`: the decorated section of the first decoration
// for that architecture, else of a plain "NT"; else, on x86 only, the
// undecorated section, as Windows does. Empty when none applies. The version
// part of a decoration is not compared: it is taken to hold.
std::string ModelsSectionFor(const std::string& models, const std::vector<std::string>& decorations,
                             const std::string& architecture);

class InfFile {
 public:
  explicit InfFile(DeviceInstallPlatform& platform) : m_platform(platform) {}
  ~InfFile();
  InfFile(const InfFile&) = delete;
  InfFile& operator=(const InfFile&) = delete;

  // 0 or the platform error.
  std::uint32_t Open(const std::string& path);
  // 0, or the error that ended the search (kErrorNoMoreItems: no line matched).
  std::uint32_t FindModel(ModelMatch& match);

  const std::string& Path() const { return m_path; }
  const std::string& ClassName() const { return m_className; }
  const ClassGuid& Guid() const { return m_classGuid; }

 private:
  DeviceInstallPlatform& m_platform;
  std::string m_path;
  std::string m_className;
  PlatformHandle m_handle = nullptr;
  ClassGuid m_classGuid;
};

}  // namespace marlet
