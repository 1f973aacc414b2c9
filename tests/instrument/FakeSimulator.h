// The simulator state the scenario tests start from, answered over a
// RecordingPeer: "*opc?" completes at once, the time and slot queries answer
// from the fields below, every other command is taken silently.
#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <string>

struct SimulatorSlot {
  int svid = 0;
  std::string standard = "GPS";
};

struct FakeSimulator {
  std::string week = "1780";
  std::string timeOfWeek = "0";
  std::string date = "2014,1,10";
  std::string time = "12,59,59.0";
  std::map<int, SimulatorSlot> slots;  // slots not listed answer SVID 0, "GPS"
  std::deque<std::string> errors;      // answers of SYST:ERR? before the queue is empty

  std::optional<std::string> Answer(const std::string& message) {
    auto endsWith = [&](const char* tail) {
      const std::string t(tail);
      return message.size() >= t.size() &&
             message.compare(message.size() - t.size(), t.size(), t) == 0;
    };
    if (message == "*opc?" || message == "*rst;*opc?") return "1\n";
    if (message == "SYST:ERR?;*opc?") {
      if (errors.empty()) return "0,\"No error\";1\n";
      std::string entry = errors.front();
      errors.pop_front();
      return entry + ";1\n";
    }
    if (endsWith(":NAV:SIM:WNUM?")) return week + "\n";
    if (endsWith(":NAV:SIM:TOW?")) return timeOfWeek + "\n";
    if (endsWith(":NAV:SIM:DATE?")) return date + "\n";
    if (endsWith(":NAV:SIM:TIME?")) return time + "\n";
    int slot = 0;
    char field[8] = {};
    if (!message.empty() && message.back() == '?' &&
        std::sscanf(message.c_str(), "%*[^:]:%*[^:]:%*[^:]:SAT%d:%4[A-Z]?", &slot, field) == 2) {
      const SimulatorSlot state = slots.count(slot) ? slots[slot] : SimulatorSlot{};
      if (std::string(field) == "SVID") return std::to_string(state.svid) + "\n";
      if (std::string(field) == "STAN") return state.standard + "\n";
    }
    return std::nullopt;
  }
};
