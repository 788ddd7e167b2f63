// The Windows build's raw control-channel client for the end-to-end tests,
// with the same modes as channel_client.py on POSIX: clients that never
// write, never read, or close at once, which zelvan-ctl never is.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string TextArg(const std::string &s)
{
	if (!s.empty() && s[0] == '@')
		return std::string(static_cast<size_t>(std::atoi(s.c_str() + 1)), 'x');
	std::string out;
	for (size_t i = 0; i < s.size(); ++i) {
		if (s[i] == '\\' && i + 1 < s.size()) {
			const char c = s[++i];
			if (c == 'n') out += '\n';
			else if (c == 'r') out += '\r';
			else if (c == 'x' && i + 2 < s.size()) { out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16)); i += 2; }
			else out += c;
		} else {
			out += s[i];
		}
	}
	return out;
}

HANDLE Connect(const char *path)
{
	for (int attempt = 0; attempt < 500; ++attempt) {
		HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
		if (h != INVALID_HANDLE_VALUE) {
			DWORD mode = PIPE_READMODE_MESSAGE;
			SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
			return h;
		}
		Sleep(10);
	}
	std::printf("connect failed %lu\n", GetLastError());
	std::exit(2);
}

// Returns false on time-out; `closed` tells a broken pipe.
bool Read(HANDLE h, DWORD timeout_ms, std::string &out, bool &closed)
{
	closed = false;
	for (DWORD waited = 0; waited < timeout_ms; waited += 5) {
		DWORD available = 0;
		if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) {
			closed = true;
			return false;
		}
		if (available > 0) {
			char buffer[4096];
			DWORD n = 0;
			ReadFile(h, buffer, sizeof(buffer), &n, nullptr);
			out.assign(buffer, n);
			return true;
		}
		Sleep(5);
	}
	return false;
}

void Write(HANDLE h, const std::string &text)
{
	DWORD written = 0;
	WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
	if (argc < 4)
		return 64;
	const std::string mode = argv[2];
	HANDLE h = Connect(argv[1]);
	if (mode == "send") {
		Write(h, TextArg(argv[3]));
		std::string reply;
		bool closed = false;
		const bool got = Read(h, 5000, reply, closed);
		std::printf("reply:%s\n", got ? reply.c_str() : "<none>");
		std::string more;
		Read(h, 2000, more, closed);
		std::printf("closed:%s\n", closed ? "yes" : "no");
	} else if (mode == "sendclose") {
		Write(h, TextArg(argv[3]));
		std::printf("sent\n");
	} else if (mode == "silent") {
		std::printf("connected\n");
		std::fflush(stdout);
		const ULONGLONG start = GetTickCount64();
		std::string none;
		bool closed = false;
		Read(h, static_cast<DWORD>(std::atoi(argv[3])), none, closed);
		if (closed)
			std::printf("dropped after %llu ms\n", GetTickCount64() - start);
	} else if (mode == "noread" && argc >= 5) {
		Write(h, TextArg(argv[3]));
		std::printf("sent\n");
		std::fflush(stdout);
		Sleep(static_cast<DWORD>(std::atoi(argv[4])));
	} else if (mode == "zero-then") {
		Write(h, "");
		std::string reply;
		bool closed = false;
		std::printf("reply:%s\n", Read(h, 500, reply, closed) ? reply.c_str() : "<none>");
		Write(h, TextArg(argv[3]));
		std::printf("reply:%s\n", Read(h, 5000, reply, closed) ? reply.c_str() : "<none>");
	} else {
		return 64;
	}
	CloseHandle(h);
	return 0;
}
