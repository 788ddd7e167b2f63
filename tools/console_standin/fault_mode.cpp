// Names of the console stand-in's fault modes.
#include "tools/console_standin/fault_mode.h"

#include <array>
#include <string>

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
	Entry{"late", FaultMode::Late, "print nothing for 8 s, then work; take 8 s to leave"},
	Entry{"cut:N", FaultMode::Cut, "write the first N bytes of a download, then abort"},
	Entry{"orphan", FaultMode::Orphan, "start a child that rewrites STORE/orphan.beat every\n"
	                                  "                    100 ms for 30 s, then ignore exit"},
	Entry{"swap_folder", FaultMode::SwapFolder, "after a download, move its folder aside and put a\n"
	                                            "                    symlink to STORE/attacker in its place"},
	Entry{"swap_folder_dir", FaultMode::SwapFolderDir, "the same with a new empty folder in its place"},
	Entry{"leave_early", FaultMode::LeaveEarly, "read one line, close standard input, print a line\n"
	                                           "                    and end"},
};

} // namespace

std::optional<Fault> ParseFault(std::string_view text)
{
	if (text.empty())
		return Fault{};
	constexpr std::string_view kCut = "cut:";
	if (text.substr(0, kCut.size()) == kCut) {
		const std::string_view digits = text.substr(kCut.size());
		if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
			return std::nullopt;
		return Fault{FaultMode::Cut, static_cast<size_t>(std::stoul(std::string(digits)))};
	}
	for (const Entry &e : kModes)
		if (e.name == text && e.mode != FaultMode::Cut)
			return Fault{e.mode, 0};
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
