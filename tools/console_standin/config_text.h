// The text of a headset's stored configuration: the one a new headset holds,
// and the damaged forms that the fault modes hand out instead.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelvan::console_standin {

// A JSON number as the configuration may hold it ("63.5", "64", "6.35e1"),
// or nothing.
std::optional<double> ParseJsonNumber(std::string_view text);

// The configuration of a second-model headset as it leaves the factory, laid
// out as the headset's firmware writes it (sorted keys, three-space indents,
// " : ", LF). `ipd_mm` must be a JSON number; it is written as given, and the
// eye translations are derived from it.
std::string DefaultConfigText(const std::string &serial, const std::string &ipd_mm);

// Every "default_mm" member taken out, with its comma, and its line when it
// had one of its own; the rest byte for byte. Valid JSON stays valid.
std::string WithoutDefaultMm(std::string text);

// Every "default_mm" member whose value is a number gets it as a string
// instead ("default_mm" : "63.5"); the rest byte for byte.
std::string WithQuotedDefaultMm(std::string text);

} // namespace zelvan::console_standin
