// The panel's start on Windows: BCryptGenRandom, the launch file under
// %LOCALAPPDATA%\ZelvanProximity\panel\ (the user's own profile, so its ACL
// keeps other users out), and ShellExecuteW.
#include "tools/zelvan_ctl/panel/panel_open.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <bcrypt.h>
#include <iphlpapi.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {

bool RandomBytes(unsigned char *bytes, size_t size)
{
	return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

namespace {

// The user of process `pid`; empty when it cannot be asked (another user's
// process, as a rule).
std::vector<unsigned char> ProcessUser(DWORD pid)
{
	std::vector<unsigned char> user;
	const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
	if (process == nullptr)
		return user;
	HANDLE token = nullptr;
	if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
		DWORD size = 0;
		GetTokenInformation(token, TokenUser, nullptr, 0, &size);
		std::vector<unsigned char> info(size);
		if (size != 0 && GetTokenInformation(token, TokenUser, info.data(), size, &size)) {
			const PSID sid = reinterpret_cast<TOKEN_USER *>(info.data())->User.Sid;
			const auto *bytes = static_cast<const unsigned char *>(sid);
			user.assign(bytes, bytes + GetLengthSid(sid));
		}
		CloseHandle(token);
	}
	CloseHandle(process);
	return user;
}

// Under Wine a peer may be a program of the host system, which Windows'
// table does not know: the host's own table says whose it is, read through
// Wine's Z: drive, as the Linux build reads it. Not under Windows.
bool HostPeerIsThisUser(const sockaddr_in &ours, const sockaddr_in &peer)
{
	const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
	if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr)
		return false;
	unsigned long own = 0;
	bool own_known = false;
	if (FILE *status = _wfopen(L"Z:\\proc\\self\\status", L"r")) {
		char line[256];
		while (!own_known && std::fgets(line, sizeof(line), status) != nullptr)
			own_known = std::sscanf(line, "Uid: %*u %lu", &own) == 1;
		std::fclose(status);
	}
	FILE *table = own_known ? _wfopen(L"Z:\\proc\\net\\tcp", L"r") : nullptr;
	if (table == nullptr)
		return false;
	unsigned long uid = 0;
	const bool found = TcpTableOwner(table, peer.sin_addr.s_addr, ntohs(peer.sin_port), ours.sin_addr.s_addr,
	                                 ntohs(ours.sin_port), uid);
	std::fclose(table);
	return found && uid == own;
}

} // namespace

bool PeerIsThisUser(uintptr_t socket)
{
	const SOCKET fd = static_cast<SOCKET>(socket);
	sockaddr_in ours{}, peer{};
	int size = sizeof(ours);
	if (getsockname(fd, reinterpret_cast<sockaddr *>(&ours), &size) != 0 || ours.sin_family != AF_INET)
		return false;
	size = sizeof(peer);
	if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) != 0 || peer.sin_family != AF_INET)
		return false;
	ULONG bytes = 0;
	std::vector<unsigned char> table;
	DWORD result = ERROR_INSUFFICIENT_BUFFER;
	while (result == ERROR_INSUFFICIENT_BUFFER) {
		table.resize(bytes == 0 ? 1 : bytes);
		result = GetExtendedTcpTable(table.data(), &bytes, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
	}
	if (result != NO_ERROR)
		return false;
	// The peer's own socket: its local end is the peer, its remote end us.
	const auto *rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(table.data());
	for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
		const MIB_TCPROW_OWNER_PID &row = rows->table[i];
		if (row.dwLocalAddr != peer.sin_addr.s_addr || static_cast<u_short>(row.dwLocalPort) != peer.sin_port ||
		    row.dwRemoteAddr != ours.sin_addr.s_addr || static_cast<u_short>(row.dwRemotePort) != ours.sin_port)
			continue;
		const std::vector<unsigned char> theirs = ProcessUser(row.dwOwningPid);
		if (theirs.empty())
			return HostPeerIsThisUser(ours, peer);
		return theirs == ProcessUser(GetCurrentProcessId());
	}
	return HostPeerIsThisUser(ours, peer);
}

bool WriteLaunchFile(const std::string &address, LaunchFile &file, std::string &error)
{
	wchar_t local[MAX_PATH];
	const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
	if (length == 0 || length >= MAX_PATH) {
		error = "LOCALAPPDATA is not set";
		return false;
	}
	const std::filesystem::path folder = std::filesystem::path(local) / L"ZelvanProximity" / L"panel";
	std::error_code failed;
	std::filesystem::create_directories(folder, failed);
	std::string suffix;
	if (!RandomSecret(suffix)) {
		error = "no randomness for the launch file's name";
		return false;
	}
	const std::filesystem::path path = folder / Utf8Path("open-panel-" + suffix.substr(0, 16) + ".html");
	file.folder.clear();
	file.path = Utf8String(path);
	const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (handle == INVALID_HANDLE_VALUE) {
		error = "cannot create " + file.path + " (error " + std::to_string(GetLastError()) + ")";
		return false;
	}
	const std::string page = LaunchPage(address);
	DWORD written = 0;
	const bool ok = WriteFile(handle, page.data(), static_cast<DWORD>(page.size()), &written, nullptr) &&
	                written == page.size();
	CloseHandle(handle);
	if (!ok) {
		error = "cannot write " + file.path;
		RemoveLaunchFile(file);
		return false;
	}
	return true;
}

void RemoveLaunchFile(const LaunchFile &file)
{
	if (!file.path.empty())
		DeleteFileW(Utf8Path(file.path).c_str());
}

bool OpenInBrowser(const LaunchFile &file, std::string &error)
{
	const HINSTANCE result = ShellExecuteW(nullptr, L"open", Utf8Path(file.path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
	if (reinterpret_cast<INT_PTR>(result) <= 32) {
		error = "Windows could not open " + file.path + " in the browser";
		return false;
	}
	return true;
}

namespace {

std::mutex signal_mutex;
std::function<void()> signal_stop;

BOOL WINAPI OnConsoleSignal(DWORD)
{
	std::lock_guard lock(signal_mutex);
	if (!signal_stop)
		return FALSE;
	signal_stop();
	return TRUE;
}

} // namespace

struct StopOnSignals::State {};

StopOnSignals::StopOnSignals(std::function<void()> stop) : state_(std::make_unique<State>())
{
	{
		std::lock_guard lock(signal_mutex);
		signal_stop = std::move(stop);
	}
	SetConsoleCtrlHandler(OnConsoleSignal, TRUE);
}

StopOnSignals::~StopOnSignals()
{
	SetConsoleCtrlHandler(OnConsoleSignal, FALSE);
	std::lock_guard lock(signal_mutex);
	signal_stop = nullptr;
}

} // namespace zelvan::ctl
