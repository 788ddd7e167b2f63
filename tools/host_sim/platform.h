// The few process services that differ between POSIX and Windows: stop requests, environment, shell status, paths.
#pragma once

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace zelvan::host_sim {

// Ctrl-C, SIGTERM or a console close set *flag; a second request ends the
// process at once, for a driver that hangs.
void InstallStopHandler(std::atomic<bool>* flag);

bool SetEnvironment(const std::string& name, const std::string& value, std::string* error);

// The command's exit code from what std::system returned (-1 when it did not exit normally).
int CommandExitStatus(int system_result);

// A path as this process's file functions take it. Under Wine an absolute
// Unix path ("/tmp/x") becomes "Z:\tmp\x", Wine's drive for the Unix root,
// so that tests can pass the same paths to both builds.
std::string NativePath(const std::string& path);

// Text inside the simulator is UTF-8. On Windows, argv and the narrow file
// calls hold the code page's guess at a name, so the arguments come from the
// UTF-16 command line and files open through UTF-16 names.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// A UTF-8 path (after NativePath) as the standard file streams take it.
std::filesystem::path FilePath(const std::string& path);

// std::fopen of a UTF-8 path (after NativePath).
std::FILE* OpenUtf8File(const std::string& path, const char* mode);

// Makes the driver's hidapi calls reach the simulated sensor configured by
// `config`. On POSIX this re-executes the simulator with the simulated
// library preloaded (argv is this process's own) and only returns on failure
// or when the preload is already in place.
bool UseSimulatedSensor(const std::string& config, char** argv, std::string* error);

}  // namespace zelvan::host_sim
