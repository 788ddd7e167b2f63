// Parsing of scenario files into frame-ordered steps.
#include "tools/host_sim/scenario.h"

#include <algorithm>

#include "tools/host_sim/enum_names.h"
#include "tools/host_sim/value_parsing.h"

namespace zelvan::host_sim {
namespace {

// Takes the first whitespace-separated word off *rest.
std::string_view NextWord(std::string_view* rest) {
  *rest = Trim(*rest);
  const auto end = rest->find_first_of(" \t");
  std::string_view word = rest->substr(0, end);
  *rest = end == std::string_view::npos ? std::string_view{} : Trim(rest->substr(end));
  return word;
}

using Parser = std::optional<ScenarioAction> (*)(std::string_view args, std::string* error);

struct Verb {
  std::string_view name;
  std::string_view usage;
  std::string_view meaning;
  Parser parse;
};

template <typename Action>
std::optional<ScenarioAction> NoArguments(std::string_view args, std::string* error) {
  if (!args.empty()) {
    *error = "takes no arguments";
    return std::nullopt;
  }
  return Action{};
}

std::optional<ScenarioAction> ParseProp(std::string_view args, std::string* error) {
  const std::string_view name = NextWord(&args);
  if (name.empty()) {
    *error = "needs a property name and a value";
    return std::nullopt;
  }
  auto value = ParsePropertyValue(name, args, error);
  if (!value) return std::nullopt;
  return action::SetProperty{std::move(*value)};
}

std::optional<ScenarioAction> ParseIpdEvent(std::string_view args, std::string* error) {
  auto meters = ParseNumber(args);
  if (!meters) {
    *error = "needs the IPD in metres, e.g. 0.064";
    return std::nullopt;
  }
  return action::IpdEvent{static_cast<float>(*meters)};
}

std::optional<ScenarioAction> ParseEvent(std::string_view args, std::string* error) {
  auto type = ParseEventType(args);
  if (!type) {
    *error = "needs an event type number or VREvent_ name, got '" + std::string(args) + "'";
    return std::nullopt;
  }
  return action::Event{*type};
}

std::optional<ScenarioAction> ParseSetting(std::string_view args, std::string* error) {
  const std::string_view section = NextWord(&args);
  const std::string_view key = NextWord(&args);
  if (section.empty() || key.empty() || args.empty()) {
    *error = "needs a section, a key and a value";
    return std::nullopt;
  }
  return action::Setting{std::string(section), std::string(key), ParseSettingValue(args)};
}

std::optional<ScenarioAction> ParseRemoveSetting(std::string_view args, std::string* error) {
  const std::string_view section = NextWord(&args);
  const std::string_view key = NextWord(&args);
  if (section.empty() || key.empty() || !args.empty()) {
    *error = "needs a section and a key";
    return std::nullopt;
  }
  return action::RemoveSetting{std::string(section), std::string(key)};
}

std::optional<ScenarioAction> ParseRun(std::string_view args, std::string* error) {
  if (args.empty()) {
    *error = "needs a command";
    return std::nullopt;
  }
  return action::Run{std::string(args)};
}

constexpr Verb kVerbs[] = {
    {"add_hmd", "add_hmd", "the HMD appears", NoArguments<action::AddHmd>},
    {"prop", "prop NAME VALUE", "sets an HMD property (NAME as in --hmd-prop)", ParseProp},
    {"ipd_event", "ipd_event METERS", "queues VREvent_IpdChanged with METERS", ParseIpdEvent},
    {"event", "event TYPE", "queues event TYPE (number or VREvent_ name)", ParseEvent},
    {"setting", "setting SECTION KEY VALUE", "sets a setting, typed as in --setting", ParseSetting},
    {"remove_setting", "remove_setting SECTION KEY", "removes a user setting (defaults stay)", ParseRemoveSetting},
    {"run", "run COMMAND...", "starts a shell command, does not wait", ParseRun},
    {"end", "end", "stops after this frame", NoArguments<action::End>},
};

std::string Located(std::string_view file_name, int line, const std::string& message) {
  return std::string(file_name) + ":" + std::to_string(line) + ": " + message;
}

}  // namespace

std::optional<Scenario> ParseScenario(std::string_view text, std::string_view file_name, std::string* error) {
  Scenario steps;
  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const auto end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;

    std::string_view rest = line;
    const std::string_view frame_word = NextWord(&rest);
    const std::string_view action_text = rest;
    const std::string_view verb_word = NextWord(&rest);
    const auto frame = ParseInteger(frame_word);
    if (!frame || *frame < 0) {
      *error = Located(file_name, line_number, "expected a frame number first, got '" + std::string(frame_word) + "'");
      return std::nullopt;
    }
    const auto verb = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                   [&](const Verb& v) { return v.name == verb_word; });
    if (verb == std::end(kVerbs)) {
      *error = Located(file_name, line_number,
                       verb_word.empty() ? std::string("an action must follow the frame number")
                                         : "unknown action '" + std::string(verb_word) + "'");
      return std::nullopt;
    }
    std::string why;
    auto action = verb->parse(rest, &why);
    if (!action) {
      *error = Located(file_name, line_number, std::string(verb->name) + " " + why + " (usage: <frame> " +
                                                   std::string(verb->usage) + ")");
      return std::nullopt;
    }
    steps.push_back(ScenarioStep{static_cast<std::uint64_t>(*frame), line_number, std::string(action_text),
                                 std::move(*action)});
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const ScenarioStep& a, const ScenarioStep& b) { return a.frame < b.frame; });
  return steps;
}

std::string ScenarioGrammar() {
  std::string text;
  for (const Verb& verb : kVerbs) {
    std::string usage = "  <frame> " + std::string(verb.usage);
    usage.resize(std::max<std::size_t>(usage.size() + 1, 38), ' ');
    text += usage + std::string(verb.meaning) + "\n";
  }
  return text;
}

}  // namespace zelvan::host_sim
