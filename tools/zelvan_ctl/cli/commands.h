// The command line's commands over the capabilities: each parses its words,
// prints for the terminal and returns the exit status (exit_status.h).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/channel/failure.h"

namespace zelvan::ctl {

// Says why an exchange got no reply (or an ERR) and gives its exit status.
using ExitForExchange = std::function<int(const Exchange &exchange)>;

// Prints the failure ("zelvan-ctl: ..." on stderr, or through `exit_for` for
// an exchange without a reply) and returns its exit status.
int ReportFailure(const Failure &failure, const ExitForExchange &exit_for);

// Each takes the words after its command's name.
int RunRecord(const std::vector<std::string> &args, const SendToDriver &send, const ExitForExchange &exit_for);
int RunTune(const std::vector<std::string> &args, const SendToDriver &send, const ExitForExchange &exit_for);
int RunPaths(const std::vector<std::string> &args);
int RunRegister(const std::vector<std::string> &args, bool add);
int RunDoctor(const std::string &channel, std::chrono::milliseconds timeout, bool json, bool fix, bool dry_run);
int RunUnblock();
int RunReport(const std::vector<std::string> &args, const std::string &channel, std::chrono::milliseconds timeout);
int RunPanel(const std::vector<std::string> &args, const std::string &channel, std::chrono::milliseconds timeout);
int RunRestoreConfig(const std::vector<std::string> &args, const std::string &channel, std::chrono::milliseconds timeout);

} // namespace zelvan::ctl
