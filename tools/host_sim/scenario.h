// Scenario files: what the simulated runtime does at which frame, one action per line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>
#include <openvr_driver.h>

#include "tools/host_sim/property_values.h"

namespace zelvan::host_sim {

// One struct per verb. A new verb is a struct here, a row in the parser's
// table and a handler in the simulator; std::visit makes the handler compulsory.
namespace action {
struct AddHmd {};
struct SetProperty {
  PropertyValue value;
};
struct IpdEvent {
  float meters;
};
struct Event {
  vr::EVREventType type;
};
struct Setting {
  std::string section;
  std::string key;
  nlohmann::json value;
};
struct RemoveSetting {
  std::string section;
  std::string key;
};
struct Run {
  std::string command;
};
struct End {};
}  // namespace action

using ScenarioAction = std::variant<action::AddHmd, action::SetProperty, action::IpdEvent, action::Event,
                                    action::Setting, action::RemoveSetting, action::Run, action::End>;

struct ScenarioStep {
  std::uint64_t frame = 0;  // 0: before Init; N: just before the Nth RunFrame
  int line = 0;
  std::string text;  // the action as written, without the frame number
  ScenarioAction action;
};

// Steps ordered by frame, lines of the same frame in file order.
using Scenario = std::vector<ScenarioStep>;

// On failure, *error is "FILE:LINE: what is wrong".
std::optional<Scenario> ParseScenario(std::string_view text, std::string_view file_name, std::string* error);

// The verbs with their arguments, for --help.
std::string ScenarioGrammar();

}  // namespace zelvan::host_sim
