#include "marlet/install/inf_file.h"

#include <cctype>

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

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string ModelsSectionFor(const std::string& models, const std::vector<std::string>& decorations,
                             const std::string& architecture) {
  const std::string own = "nt" + Lower(architecture);
  const std::string* any = nullptr;
  for (const std::string& decoration : decorations) {
    const std::string lower = Lower(decoration);
    const std::string target = lower.substr(0, lower.find('.'));
    if (target == own) return models + "." + decoration;
    if (target == "nt" && any == nullptr) any = &decoration;
  }
  if (any != nullptr) return models + "." + *any;
  return Lower(architecture) == "x86" ? models : std::string();
}

std::uint32_t InfFile::FindModel(ModelMatch& match) {
  InfLine manufacturer;
  if (!m_platform.FindFirstLine(m_handle, "Manufacturer", manufacturer)) return m_platform.LastError();
  // Only the first manufacturer is searched: field 1 names its models section,
  // the fields after it the Windows it has decorated sections for.
  std::string models;
  if (!m_platform.GetStringField(manufacturer, 1, models)) return m_platform.LastError();
  std::vector<std::string> decorations;
  for (int field = 2; field <= m_platform.GetFieldCount(manufacturer); ++field) {
    std::string decoration;
    if (m_platform.GetStringField(manufacturer, field, decoration) && !decoration.empty())
      decorations.push_back(decoration);
  }
  const std::string modelsSection = ModelsSectionFor(models, decorations, m_platform.NativeArchitecture());
  if (modelsSection.empty()) return kErrorNoMoreItems;

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
