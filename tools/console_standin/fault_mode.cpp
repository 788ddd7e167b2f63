// Names of the console stand-in's fault modes.
#include "tools/console_standin/fault_mode.h"

#include <array>

namespace zelvan::console_standin {
namespace {

struct Entry {
	std::string_view name;
	FaultMode mode;
	std::string_view meaning;
};

constexpr std::array kModes{
	Entry{"hang", FaultMode::Hang, "print nothing, read nothing, run until killed"},
	Entry{"ignore_exit", FaultMode::IgnoreExit, "work, but ignore exit, quit and end of input"},
	Entry{"silent", FaultMode::Silent, "work without printing anything"},
	Entry{"flood", FaultMode::Flood, "print 512 KiB after every command"},
	Entry{"crash", FaultMode::Crash, "abort as soon as the first command arrives"},
	Entry{"no_file", FaultMode::NoFile, "report downloadconfig as done, write no file"},
	Entry{"no_default_mm", FaultMode::NoDefaultMm, "download the config without its \"default_mm\" entry"},
	Entry{"bad_default_mm", FaultMode::BadDefaultMm, "download the config with \"default_mm\" : \"63.5\" (a string)"},
	Entry{"slow", FaultMode::Slow, "wait 2 s before each reply, then work"},
};

} // namespace

std::optional<FaultMode> ParseFaultMode(std::string_view name)
{
	if (name.empty())
		return FaultMode::None;
	for (const Entry &e : kModes)
		if (e.name == name)
			return e.mode;
	return std::nullopt;
}

std::string FaultModeList()
{
	std::string out;
	for (const Entry &e : kModes) {
		std::string line = "  " + std::string(e.name);
		line.resize(20, ' ');
		out += line + std::string(e.meaning) + "\n";
	}
	return out;
}

} // namespace zelvan::console_standin
