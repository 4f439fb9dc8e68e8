// The rules the setup pages apply when shown.
#include "corvane/settings/page_rules.h"

namespace corvane::settings {

void ApplyPageRules(DeviceSettings& s, int rowKind) {
  if (DisplayedPort(rowKind) == 0) return;
  if (NumberFromText(s.items[kServerClient]) == 1) s.items[kAutoConnect] = "0";
}

}  // namespace corvane::settings
