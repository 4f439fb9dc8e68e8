// Control ids of the main window, its timers and the user messages it
// exchanges with the setup sheet. The window, its tests and the automation
// checks that drive the real program all use these names.
#pragma once

#include "tk/types.h"

namespace corvane::ui::ids {

// ---- main window ("Corvane 2.9") -----------------------------------------------
constexpr int kSearch = 1000;  // push button, default
constexpr int kIPSearch = 1001;
constexpr int kDeviceSetup = 1002;
constexpr int kUpgrade = 1003;  // created hidden
constexpr int kRestore = 1004;
constexpr int kDeviceList = 1005;  // report list view with check boxes
constexpr int kReboot = 1006;
constexpr int kSetting = 1007;
constexpr int kWebBrowser = 1008;   // created hidden and disabled
constexpr int kClockText = 1009;    // hidden, sunken
constexpr int kElapsedText = 1010;  // hidden, sunken
constexpr int kProgress = 1056;     // range 0 to 1000
constexpr int kStatusText = 1058;   // the "CVN Status:" line

// The eight command buttons in the order "disable all" walks them.
constexpr int kCommandButtons[] = {kSetting,    kSearch,  kIPSearch, kDeviceSetup,
                                   kWebBrowser, kRestore, kReboot,   kUpgrade};

// ---- "Setting" (CCVNSettingDlg) ----------------------------------------------------
constexpr int kSearchPeriod = 1062;
constexpr int kRestorePeriod = 1009;
constexpr int kRebootPeriod = 1063;

// ---- system menu -------------------------------------------------------------------
constexpr tk::UINT kAboutCommand = 0x0010;

// ---- timers of the main window -------------------------------------------------------
namespace timer {
constexpr tk::UINT_PTR kMulticastSearch = 1;  // 10 ms
constexpr tk::UINT_PTR kBroadcastSearch = 2;  // 10 ms
constexpr tk::UINT_PTR kIPSearch = 3;         // 10 ms
constexpr tk::UINT_PTR kStateQuery = 4;       // 100 ms
constexpr tk::UINT_PTR kSettingAck = 5;       // 10 ms
constexpr tk::UINT_PTR kRestoreAck = 6;       // 100 ms
constexpr tk::UINT_PTR kRestorePacing = 7;    // 10 ms
constexpr tk::UINT_PTR kRebootWait = 8;       // 1000 ms
constexpr tk::UINT_PTR kRebootPacing = 9;     // 1000 ms
constexpr tk::UINT_PTR kUpgradeWait = 10;     // upgrade period x 100 ms
constexpr tk::UINT_PTR kUpgradePacing = 11;   // upgrade period x 1000 ms
constexpr tk::UINT_PTR kRestartWait = 12;     // 1000 ms
constexpr tk::UINT_PTR kClock = 13;           // 1000 ms
constexpr int kCount = 14;                    // ids 1 to 13; 0 unused
}  // namespace timer

// ---- user messages between the setup sheet and the main window ----------------------
// The sheet sends 0x409, 0x405 and 0x401 when it opens and 0x40A when it closes;
// the main window answers the first three by sending 0x409, 0x407 and 0x403
// back to the sheet with the addresses of its members.
namespace msg {
constexpr tk::UINT kRecordRequest = 0x401;  // -> 0x403 (record, selected row)
constexpr tk::UINT kRecordAnswer = 0x403;
constexpr tk::UINT kRowKindRequest = 0x405;  // -> 0x407 (row kind, item count)
constexpr tk::UINT kRowKindAnswer = 0x407;
constexpr tk::UINT kHostRequest = 0x409;  // -> 0x409 (host address, selected slot)
constexpr tk::UINT kHostAnswer = 0x409;
constexpr tk::UINT kSheetClosed = 0x40A;  // clears the operation-pending flag
}  // namespace msg

}  // namespace corvane::ui::ids
