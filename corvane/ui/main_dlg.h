// CCorvaneDlg: the device manager's main window.
//
// The window owns, for the life of the program, the device table, the three
// transports, the host address and netmask, the dialogs it opens and all
// operation state. Commands start work; the window timers (one OnTimer, one
// step per timer id) carry it on tick by tick and report the results.
//
// The implementation is split by concern:
//   main_dlg_init.cpp      construction, template, start-up, host address and
//                          netmask, system menu, icon, clock, user messages
//   main_dlg_rows.cpp      the device list rows: placing, writing, status
//   main_dlg_commands.cpp  the buttons and list clicks, the requests they send
//   main_dlg_timers.cpp    the timer dispatcher and the search, state-query,
//                          restore, reboot and restart-wait steps
//   main_dlg_setup.cpp     Device Setup: the command, the setting request, the
//                          acknowledgement timer (5) and the setup sheet's
//                          user messages
//   main_dlg_upgrade.cpp   Upgrade: the command, the upgrade request and the
//                          upgrade timers (10, 11)
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "corvane/protocol/device_table.h"
#include "corvane/protocol/search_dlg.h"
#include "corvane/protocol/transports.h"
#include "corvane/ui/main_dlg_ids.h"
#include "corvane/ui/setting_dlg.h"
#include "corvane/upgrade/upgrade_dlg.h"
#include "reportctrl/report_ctrl.h"
#include "tk/controls.h"
#include "tk/dialog.h"
#include "tk/propsheet.h"

namespace corvane::ui {

// Which flow the operation timer is running.
enum Operation : int {
  kOperationNone = 0,
  kOperationDeviceSetup = 1,
  kOperationRestore = 3,
  kOperationReboot = 4,
};

// Rows an operation works through one after another: up to 256 row indices
// (-1 in free places), the read index and the number still to do.
struct RowList {
  static constexpr int kCapacity = 256;
  std::array<int, kCapacity> rows;
  int readIndex = 0;
  int remaining = 0;
  int ready = 0;

  RowList() { Reset(); }
  // Every place -1, read index, remaining count and ready flag 0.
  void Reset();
  // Appends a row at the end; false when the list is full.
  bool Append(int row);
  // The row at the read index, -1 when there is none.
  int Current() const;
  bool Empty() const { return remaining <= 0; }
  // Read index + 1 and remaining - 1.
  void Advance();
};

// Search (timers 1, 2, 3) and the rows it lists.
struct SearchState {
  int mode = 1;           // 1 Search, 0 IP Search
  int searching = 0;      // from StartSearch / StartIPSearch to the end of the search
  int userSearch = 0;     // a search the user started is pending
  int replyCount = 0;     // search replies accepted since the search started
  int addedRows = 0;      // rows produced by the user's last search
  int refreshedRows = 0;  // rows written by the current refresh search
  int refreshRowsCreated = 0;
  int waitCount = 0;  // quiet ticks
  // Port count of each device of the user's last search, by MAC-text entry:
  // a refresh search finds a device's rows from them.
  std::array<int, protocol::DeviceTable::kSlotCount> entryPortCounts{};
};

// The port-state query before each device of an operation (timer 4).
struct StateQueryState {
  int waitCount = 0;
};

// The setting acknowledgement (timer 5).
struct SetupState {
  int waitCount = 0;
};

// Restore (timers 6 and 7).
struct RestoreState {
  RowList list;
  int acknowledged = 0;
  int finished = 0;
  int waitCount = 0;  // timer 6
};

// Reboot (timers 8 and 9).
struct RebootState {
  RowList list;
  int total = 0;
  int waitCount = 0;  // timer 8
  int waitLimit = 0;
};

// Upgrade (timers 10 and 11).
struct UpgradeState {
  RowList list;
  int waitCount = 0;  // timer 10
  int waitLimit = 0;
};

// The wait while devices restart (timer 12).
struct RestartWaitState {
  int count = 0;
};

// Columns of the device list.
enum DeviceColumn : int {
  kColCheck = 0,
  kColNumber = 1,
  kColName = 2,
  kColMac = 3,
  kColDhcp = 4,
  kColIp = 5,
  kColPort = 6,
  kColMode = 7,
  kColStatus = 8,
};

// Row colours.
constexpr tk::COLORREF kRowBaseColor = tk::RGB(232, 192, 192);
constexpr tk::COLORREF kRowConnectedColor = tk::RGB(220, 220, 220);
constexpr tk::COLORREF kRowTroubleColor = tk::RGB(175, 175, 100);
constexpr tk::COLORREF kListBackColor = tk::RGB(216, 216, 192);
constexpr tk::COLORREF kBlack = tk::RGB(0, 0, 0);

// Progress positions (range 0 to 1000).
constexpr int kProgressStart = 0;
constexpr int kProgressSheetOpen = 100;
constexpr int kProgressAck = 200;
constexpr int kProgressSearching = 850;
constexpr int kProgressDone = 1000;

// The window's title; a second instance finds the first by it.
constexpr const char* kMainTitle = "Corvane 2.9";
constexpr const char* kProgramName = "Corvane";
// Device Setup, Restore, Web Browser and Upgrade take one ticked row at a time.
constexpr const char* kOnlyOneDevice = "Please set ONE device server each time !!";

const tk::DialogTemplate& MainDialogTemplate();

class CCorvaneDlg : public tk::CDialog {
 public:
  explicit CCorvaneDlg(tk::CWnd* parent = nullptr);
  ~CCorvaneDlg() override;

  // ---- start-up and window (main_dlg_init.cpp) ------------------------------------

  // Host address refresh: the first IPv4 address the host name resolves to;
  // any failure keeps the previous address.
  void RefreshHostAddress();
  // The netmask of the adapter whose first address is the host address, with
  // the adapter-list messages.
  void LookUpHostNetmask();
  // The IP search dialog's default: the host address cut after its third dot,
  // followed by "1".
  static std::string DefaultIPSearchAddress(const std::string& hostAddress);
  // " AM hh:mm:ss" / " PM hh:mm:ss" of a local time (-1 in every field when
  // `valid` is false), and "  hh:mm:ss" of the elapsed counter.
  static std::string FormatClockText(const std::tm& local, bool valid);
  static std::string FormatElapsedText(int hours, int minutes, int seconds);
  // Timer 13: elapsed counter + 1 s, clock text from the current local time.
  void OnClockTick();

  // Status text into the member, then every member shown in the controls.
  void SetStatusText(const std::string& text);
  void PushToControls() { UpdateData(tk::FALSE); }
  void SetProgress(int position) { m_progress.SetPos(position); }

  // ---- rows (main_dlg_rows.cpp) ------------------------------------------------

  // The row writers show nothing: each returns how many of the rows it wrote
  // carry a port below 1024, and the timer step that called it shows the
  // warnings (WarnLowPorts) once it has consumed its reply and stopped or
  // marked its timer, since a box's message loop runs the step's timer again.
  //
  // Called after a search reply was stored in `slot`: new rows in a user
  // search, rows rewritten in place in a refresh search.
  int PlaceRowsOfStoredReply(int slot);
  // Appends the rows of a new device (user search).
  int AddRowsOfNewDevice(int slot);
  // Rewrites a device's rows at the position its MAC text had in the user's
  // search (refresh search). A MAC text not among the entries writes nothing.
  int RefreshRowsOfDevice(int slot);
  // Rewrites the selected device's rows from the selected slot after a set
  // (`fromSetReply`) or restore reply.
  int WriteRowsAfterCommandReply(bool fromSetReply);
  // Writes the eight text columns of one row from a record of `length` bytes
  // for port 1 or 2; true when the row's port is below 1024.
  bool WritePortRow(int row, protocol::ByteView record, int length, int port, bool defaultName);
  // "Port number should greater than 1024." once per such row.
  void WarnLowPorts(int rows);
  // Status evaluation of a state-query reply for the current row kind: -1 no
  // valid reply, 1 the port is free, 0 in use or unknown (the row is marked).
  int EvaluateStatusReply(protocol::ByteView reply, int length);
  // Column 8 text, and for "trouble" rows black text on RGB(175, 175, 100).
  void SetRowStatus(int row, const std::string& status);
  void MarkRowTrouble(int row, const std::string& status);
  // The row kind of `row` from the MAC texts of its neighbours (`previous`
  // is kept when both neighbours carry the same text).
  protocol::RowKind RowKindOf(int row, protocol::RowKind previous) const;
  // Current row and row count from a clicked item, then device slot and row kind.
  void TakeClickedRow(int item);
  // The partner row of a two-port row (row + 1 for a first row, row - 1 for a
  // second row); -1 for a single-port row.
  static int PartnerRow(int row, protocol::RowKind kind);
  // The 1-based numbers of the current device's rows: "n" or "a,b".
  std::string RowNumbersText(int row, protocol::RowKind kind) const;

  // ---- commands (main_dlg_commands.cpp; Device Setup and Upgrade in their files) -

  void OnSearch();
  void OnIPSearch();
  void OnDeviceSetup();  // main_dlg_setup.cpp
  void OnRestore();
  void OnReboot();
  void OnSetting();
  void OnWebBrowser();
  void OnUpgrade();  // main_dlg_upgrade.cpp
  tk::LRESULT OnListClick(int item, int column);
  tk::LRESULT OnListDoubleClick(int item);

  // Counts the ticked rows; with `list`, appends each to it. The last ticked
  // row becomes the current row when `takeCurrent`.
  int CountTickedRows(RowList* list, bool takeCurrent);
  // The subnet test of a device address: true when it lies in the host's
  // segment. Otherwise the warning is shown and its answer left in `answer`.
  bool InHostSegment(const std::string& deviceAddress, int* answer);
  static bool SameSegment(const std::string& device, const std::string& host, const std::string& mask);

  // The resets every search begins with.
  void ResetForNewSearch();
  void StartSearch();
  void StartIPSearch();
  // Repeats the last search: StartSearch after Search, StartIPSearch after IP Search.
  void RepeatLastSearch();
  void SendStateQuery(int row);
  void SendSettingRequest();  // main_dlg_setup.cpp
  void SendRestoreRequest(int row);
  void SendRebootRequest(int row);
  // Restore and reboot requests carry the row's name and its record's MAC; a
  // row whose record cannot be found sends nothing.
  using NamedRequestBuilder = protocol::Bytes (*)(const std::string&, const protocol::MacAddress&, bool);
  bool SendNamedRequest(int row, NamedRequestBuilder build);
  // Opens the file server, tells the device (row, or -1: the stored address)
  // to restart into its boot loader and serves it (main_dlg_upgrade.cpp).
  void SendUpgradeRequest(int row);
  // Serves the firmware file to one boot loader (blocking, the window kept
  // painted); starts timer 12 whatever the result. True on success.
  // `tellDevice` runs once the server's sockets are open, so that the boot
  // loader is heard however soon it asks; when they cannot be opened the
  // failure is shown and `tellDevice` does not run. `clientMac`, when the
  // device is known: only a BOOTP request from that hardware address is answered.
  bool ServeBootFile(const std::string& firmwarePath, const std::function<void()>& tellDevice = {},
                     const std::optional<protocol::MacAddress>& clientMac = std::nullopt);
  // The upgrade request to a row's device, or "CVN1" to the stored address.
  void SendUpgradePacket(int row);
  // The device slot whose stored record carries the row's MAC text; -1 when
  // none does (nothing is then sent).
  int SlotOfRow(int row) const;

  void DisableCommandButtons();
  // 1007, 1000, 1001, 1002, 1004, 1006 and 1003 (Web Browser stays disabled).
  void EnableCommandButtons();
  void EnableButtons(std::initializer_list<int> ids, bool enable);

  // ---- timers (main_dlg_timers.cpp; 5, 10, 11 in their files) --------------------

  void StartTimer(tk::UINT_PTR id, tk::UINT periodMs);
  void StopTimer(tk::UINT_PTR id);
  bool TimerRunning(tk::UINT_PTR id) const { return m_timers[id] != 0; }

  void OnSearchTimer(tk::UINT_PTR id);    // 1 and 2
  void OnIPSearchTimer();                 // 3
  void OnStateQueryTimer();               // 4
  void OnSettingTimer();                  // 5, main_dlg_setup.cpp
  void OnRestoreAckTimer();               // 6
  void OnRestorePacingTimer();            // 7
  void OnRebootWaitTimer();               // 8
  void OnRebootPacingTimer();             // 9
  void OnUpgradeTimers(tk::UINT_PTR id);  // 10 and 11, main_dlg_upgrade.cpp
  void OnRestartWaitTimer();              // 12; also started by the boot-loader server
  void StartRestartWait() { StartTimer(ids::timer::kRestartWait, 1000); }

  // Steps of timer 4 by result.
  void OnStateGo();
  void OnStateInUse();
  void OnStateNoAnswer();
  // Restore and Reboot move their list past a device whose request is not
  // sent (in use, or no answer). The skipped row when it was the last and the
  // operation ends with it (the caller marks the rows, then
  // EndSkippedOperation); nothing while the operation goes on.
  std::optional<int> SkipListedDevice();
  // The rows of a device whose port (or partner port) is in use: the row
  // itself "Connected", the partner row by its own state.
  void MarkBusyDevice(int row, int partnerState);
  // Makes a listed row the current row: its own row kind and device slot, so
  // the query, the request and the reply are judged for that device.
  void TakeListedRow(int row);
  // Progress, status, command buttons and the message `what` about `listed`.
  void EndSkippedOperation(int listed, const char* what);
  // Ends a search that found nothing or something (timers 1 to 3).
  void EndSearch(bool ipSearch);
  // The message boxes of the results, with the information icon.
  void ShowResult(const std::string& text, const std::string& caption);

  // ---- the setup sheet's user messages (main_dlg_setup.cpp) ---------------------

  // Answers 0x409, 0x405, 0x401 and 0x40A; returns 1.
  tk::LRESULT OnSetupSheetMessage(tk::UINT msg, tk::WPARAM wParam, tk::LPARAM lParam);
  // Builds the setup sheet (its title is set to "Device Setup" at start-up).
  std::unique_ptr<tk::CPropertySheet> CreateSetupSheet();
  // Builds the upgrade dialog (main_dlg_upgrade.cpp).
  std::unique_ptr<upgrade::CUpgradeDlg> CreateUpgradeDialog();

  // ---- owned dialogs, controls and data ------------------------------------------

  protocol::CSearchDlg m_searchDlg;
  protocol::CIPSearchDlg m_ipSearchDlg;
  CCVNSettingDlg m_settingDlg;
  std::unique_ptr<tk::CPropertySheet> m_setupSheet;
  std::unique_ptr<upgrade::CUpgradeDlg> m_upgradeDlg;
  tk::CProgressCtrl m_progress;
  reportctrl::CReportCtrl m_list;
  std::string m_statusText;
  std::string m_hostAddress;
  std::string m_hostNetmask;
  std::time_t m_clockTime = 0;
  std::string m_clockText;
  std::string m_elapsedText;
  int m_elapsedHours = 0;
  int m_elapsedMinutes = 0;
  int m_elapsedSeconds = 0;
  tk::HICON m_icon = nullptr;

  // The device table (slots, MAC texts, port counts, selected slot).
  std::unique_ptr<protocol::DeviceTable> m_table;
  protocol::Transports m_transports;

  // ---- operation state -------------------------------------------------------------

  int m_currentRow = 1000;  // the row last clicked; 1000 = none
  int m_rowCount = 0;       // list rows, taken at each click
  protocol::RowKind m_rowKind = protocol::RowKind::SinglePort;
  int m_tickedCount = 0;
  int m_operation = kOperationNone;
  int m_operationPending = 0;  // Device Setup, Restore, Reboot or Upgrade under way

  // Each operation keeps its own counters: a step reads and writes only the
  // state of its own operation (the search's reply counter excepted, which
  // the operations clear and timer 10 reads).
  SearchState m_search;
  StateQueryState m_stateQuery;
  SetupState m_setup;
  RestoreState m_restore;
  RebootState m_reboot;
  UpgradeState m_upgrade;
  RestartWaitState m_restartWait;
  std::uint32_t m_clientAddress = 0;  // offered to the boot loader (host order)
  std::uint32_t m_serverAddress = 0;  // this PC (host order)

  // Timer handles by id (0 = not running).
  std::array<tk::UINT_PTR, ids::timer::kCount> m_timers{};

 protected:
  tk::BOOL OnInitDialog() override;
  void DoDataExchange(tk::CDataExchange* pDX) override;
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override;
  bool OnNotify(int id, tk::Notification& n, tk::LRESULT& result) override;
  void OnTimer(tk::UINT_PTR id) override;
  bool OnSysCommand(tk::UINT id, tk::LPARAM lParam) override;
  bool OnPaint() override;
  tk::HICON OnQueryDragIcon() override;
  bool OnMessage(tk::UINT msg, tk::WPARAM wParam, tk::LPARAM lParam, tk::LRESULT& result) override;
};

}  // namespace corvane::ui
