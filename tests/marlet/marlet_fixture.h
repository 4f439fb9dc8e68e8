// A simulated driver and installer with the channel over them, the channel's
// diagnostics and program exits recorded.
#pragma once

#include <string>
#include <vector>

#include "headless_test.h"
#include "marlet/driver/port_driver_channel.h"
#include "marlet/sim/simulated_driver.h"
#include "marlet/sim/simulated_installer.h"

class MarletTest : public HeadlessTest {
 protected:
  marlet::ProgramOutput Recorder() {
    return {[this](const std::string& line) { diagnostics.push_back(line); },
            [this](int status) { exits.push_back(status); }};
  }

  // Message box texts shown so far.
  static std::vector<std::string> Messages(std::size_t from = 0) {
    std::vector<std::string> texts;
    const auto& calls = tk::headless::MessageBoxes();
    for (std::size_t i = from; i < calls.size(); ++i) texts.push_back(calls[i].text);
    return texts;
  }

  // Answers the next message boxes, in order, with OK.
  static void ExpectMessages(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) tk::headless::ExpectMessageBox(text);
  }

  marlet::sim::SimulatedDriver driver;
  marlet::sim::SimulatedInstaller installer{driver};
  std::vector<std::string> diagnostics;
  std::vector<int> exits;
  marlet::PortDriverChannel channel{driver, Recorder()};
};
