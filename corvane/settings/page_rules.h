// What the setup pages do to the settings of a record each time they are
// shown, before anyone types: the values the window's Save writes and its
// Submit sends unless changed.
#pragma once

#include "corvane/settings/setting_items.h"

namespace corvane::settings {

// The network page's rules on activation: a shown port in client mode has
// auto connect off (the page clears and disables the box).
void ApplyPageRules(DeviceSettings& settings, int rowKind);

}  // namespace corvane::settings
