// Waiting for devices that restart after a change: each falls silent for a
// while, then answers a search again, possibly at another address.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "corvanectl/devices.h"

namespace corvanectl {

// One device being waited for.
struct ComeBack {
  FoundDevice device;               // before: the device as it answered; once back: its new reply
  std::vector<std::string> alsoAt;  // further addresses it may come back at (a new static IP)
  bool byBroadcast = false;         // also looked for by broadcast search (its address may change)
  bool back = false;
  std::chrono::steady_clock::time_point backAt;  // when it answered again
};

struct ComeBackTiming {
  int limitMs = 30000;  // from the start of the wait
  int quietMs = 1000;   // nothing is asked at first: a device may answer once more before it restarts
  int probeMs = 500;    // between two rounds of questions
};

// Asks the devices not yet back, by a search request to each one's addresses,
// round after round, until every device has answered (its MAC in a search
// reply) or the limit has passed. False with `error` set only when no socket
// could be opened; who came back is in `back`.
bool AwaitComeBack(std::vector<ComeBack>& devices, const ComeBackTiming& timing, std::string& error);

// "30", "0.5": milliseconds as seconds for a message.
std::string SecondsText(int ms);

}  // namespace corvanectl
