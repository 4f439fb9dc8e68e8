#include "marlet/install/inf_file.h"

namespace marlet {

InfFile::~InfFile() {
  if (m_handle != nullptr) m_platform.CloseInfFile(m_handle);
}

std::uint32_t InfFile::Open(const std::string& path) {
  m_path = path;
  m_handle = m_platform.OpenInfFile(path);
  if (m_handle == nullptr) return m_platform.LastError();
  if (!m_platform.GetInfClass(path, m_classGuid, m_className)) return m_platform.LastError();
  if (m_className.size() >= kClassNameBufferSize) m_className.resize(kClassNameBufferSize - 1);
  // A file may name its class without the GUID: the platform knows it by name.
  if (m_classGuid.IsZero() && !m_platform.ClassGuidFromName(m_className, m_classGuid)) {
    return m_platform.LastError();
  }
  return 0;
}

std::uint32_t InfFile::FindModel(ModelMatch& match) {
  InfLine manufacturer;
  if (!m_platform.FindFirstLine(m_handle, "Manufacturer", manufacturer)) return m_platform.LastError();
  // Only the first manufacturer is searched: field 1 names its models section.
  std::string modelsSection;
  if (!m_platform.GetStringField(manufacturer, 1, modelsSection)) return m_platform.LastError();

  InfLine line;
  if (!m_platform.FindFirstLine(m_handle, modelsSection, line)) return m_platform.LastError();
  for (;;) {
    // Fields 2 and up are hardware IDs; a line without one has one empty ID.
    int count = m_platform.GetFieldCount(line);
    for (int field = 2; field <= (count < 2 ? 2 : count); ++field) {
      std::string id;
      if (field <= count && !m_platform.GetStringField(line, field, id)) id.clear();
      if (match.hardwareId.empty() || id == match.hardwareId) {
        match.hardwareId = id;
        match.found = 1;
        return 0;
      }
    }
    InfLine next;
    if (!m_platform.FindNextLine(line, next)) return kErrorNoMoreItems;
    line = next;
  }
}

}  // namespace marlet
