// zelvan-panel.exe: what the Start-menu entry runs. It starts
// "zelvan-ctl.exe panel" from its own folder without a console window, and
// since nobody sees that program's errors, says in a message box why it
// could not start or why it stopped.
#include <windows.h>

#include <string>

namespace {

std::wstring Wide(const std::string &utf8)
{
	if (utf8.empty())
		return {};
	const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
	std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
	if (n > 0)
		MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
	return out;
}

std::string Utf8(const std::wstring &wide)
{
	if (wide.empty())
		return {};
	const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
		nullptr);
	std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
	if (n > 0)
		WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
	return out;
}

std::string ErrorText(DWORD code)
{
	wchar_t *text = nullptr;
	const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
			FORMAT_MESSAGE_IGNORE_INSERTS,
		nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
	std::wstring message = n > 0 && text ? std::wstring(text, n) : std::wstring();
	LocalFree(text);
	while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
		message.pop_back();
	std::string out = Utf8(message);
	return (out.empty() ? "error" : out) + " (" + std::to_string(code) + ")";
}

void Complain(const std::string &text)
{
	MessageBoxW(nullptr, Wide(text).c_str(), L"Zelvan Panel", MB_ICONERROR | MB_OK);
}

// The folder's own path, however long: the driver may sit deep in a
// Steam library.
bool OwnFolder(std::string &folder)
{
	std::wstring path(MAX_PATH, L'\0');
	for (;;) {
		const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
		if (n == 0)
			return false;
		if (n < path.size()) {
			path.resize(n);
			break;
		}
		path.resize(path.size() * 2);
	}
	const size_t cut = path.find_last_of(L'\\');
	if (cut == std::wstring::npos)
		return false;
	folder = Utf8(path.substr(0, cut));
	return !folder.empty();
}

// The panel's errors go to a file that closes with us: a pipe would stay
// open as long as any browser it started inherits it.
HANDLE ErrorFile()
{
	wchar_t dir[MAX_PATH + 1];
	wchar_t name[MAX_PATH + 1];
	if (GetTempPathW(MAX_PATH + 1, dir) == 0 || GetTempFileNameW(dir, L"zvp", 0, name) == 0)
		return INVALID_HANDLE_VALUE;
	SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
	return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
		&inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// The last lines the panel wrote to its error output, as UTF-8.
std::string ErrorTail(HANDLE file)
{
	constexpr LONG kTail = 2000;
	LARGE_INTEGER size{};
	if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size) || size.QuadPart == 0)
		return {};
	LARGE_INTEGER from{};
	from.QuadPart = size.QuadPart > kTail ? size.QuadPart - kTail : 0;
	SetFilePointerEx(file, from, nullptr, FILE_BEGIN);
	std::string text(static_cast<size_t>(size.QuadPart - from.QuadPart), '\0');
	DWORD got = 0;
	if (!ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr))
		return {};
	text.resize(got);
	while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
		text.pop_back();
	return text;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
	std::string folder;
	if (!OwnFolder(folder)) {
		Complain("Zelvan Panel cannot find its own folder: " + ErrorText(GetLastError()));
		return 1;
	}
	const std::string ctl = folder + "\\zelvan-ctl.exe";
	// No file name holds a quote, so quotes alone keep the path one word.
	std::wstring command = Wide("\"" + ctl + "\" panel");
	const std::wstring program = Wide(ctl);
	const std::wstring directory = Wide(folder);

	HANDLE errors = ErrorFile();
	STARTUPINFOW startup{};
	startup.cb = sizeof(startup);
	if (errors != INVALID_HANDLE_VALUE) {
		startup.dwFlags = STARTF_USESTDHANDLES;
		startup.hStdInput = nullptr;
		startup.hStdOutput = errors;
		startup.hStdError = errors;
	}
	PROCESS_INFORMATION process{};
	if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, errors != INVALID_HANDLE_VALUE,
		    CREATE_NO_WINDOW, nullptr, directory.c_str(), &startup, &process)) {
		const DWORD code = GetLastError();
		Complain("Zelvan Panel could not start\n\n" + ctl + "\n\n" + ErrorText(code) +
			"\n\nReinstalling the driver puts zelvan-ctl.exe back beside zelvan-panel.exe.");
		if (errors != INVALID_HANDLE_VALUE)
			CloseHandle(errors);
		return 1;
	}
	CloseHandle(process.hThread);
	WaitForSingleObject(process.hProcess, INFINITE);
	DWORD status = 1;
	GetExitCodeProcess(process.hProcess, &status);
	CloseHandle(process.hProcess);
	if (status != 0) {
		const std::string said = ErrorTail(errors);
		Complain("The Zelvan panel stopped with an error (exit status " + std::to_string(status) + ").\n\n" +
			(said.empty() ? std::string("It said nothing.") : said) + "\n\nTo see more, run in a terminal:\n\"" + ctl +
			"\" panel");
	}
	if (errors != INVALID_HANDLE_VALUE)
		CloseHandle(errors);
	return status == 0 ? 0 : 1;
}
