// The interactive part of the console stand-in: the prompt loop and its
// commands, with the chosen fault mode woven in.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "tools/console_standin/command_log.h"
#include "tools/console_standin/config_store.h"
#include "tools/console_standin/fault_mode.h"

namespace zelvan::console_standin {

struct SessionSettings {
	std::optional<std::string> store_folder; // none: no headset is known
	FaultMode fault = FaultMode::None;
	size_t cut_bytes = 0;  // FaultMode::Cut
	std::string log_path; // empty: no command log
};

class ConsoleSession {
public:
	ConsoleSession(const SessionSettings &settings, std::FILE *in, std::FILE *out);

	// Reads commands until exit, quit or the end of input; returns the exit
	// status. Some fault modes never return.
	int Run();

private:
	enum class After { Prompt, Exit };

	bool ReadLine(std::string &raw);
	After Execute(std::string_view line);
	void SelectSerial(const std::string &serial);
	void Download(const std::string &path);
	void Upload(const std::string &path);
	bool HaveSelection();
	void Help();
	void Flood();
	void LeaveAnOrphan();
	void SwapFolderOf(const std::string &path);
	int LeaveEarly();

	void Print(std::string_view text);
	void Error(std::string_view text);
	void Prompt();
	[[noreturn]] void HangForever();

	std::optional<ConfigStore> store_;
	FaultMode fault_;
	size_t cut_bytes_;
	std::string log_path_;
	CommandLog log_;
	std::FILE *in_;
	std::FILE *out_;
	std::string selected_;
};

} // namespace zelvan::console_standin
