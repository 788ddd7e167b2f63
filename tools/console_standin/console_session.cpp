// The console stand-in's prompt loop and commands.
#include "tools/console_standin/console_session.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

#include "tools/console_standin/config_text.h"
#include "tools/console_standin/platform.h"

namespace zelvan::console_standin {
namespace {

constexpr std::string_view kPrompt = "lh> ";
constexpr auto kSlowReply = std::chrono::seconds(2);
// Inside the driver's 10 s bounds for the first output and for the exit, with
// room for a slow start (Wine, a busy machine).
constexpr auto kLateReply = std::chrono::seconds(8);
// Far more than any pipe buffers (64 KiB on Linux, a few KiB on Windows).
constexpr size_t kFloodBytes = 512 * 1024;

std::string_view Trim(std::string_view text)
{
	const size_t first = text.find_first_not_of(" \t");
	if (first == std::string_view::npos)
		return {};
	return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// LF or CR LF; a lone CR elsewhere in the line stays part of it.
std::string_view WithoutLineEnd(std::string_view raw)
{
	if (!raw.empty() && raw.back() == '\n')
		raw.remove_suffix(1);
	if (!raw.empty() && raw.back() == '\r')
		raw.remove_suffix(1);
	return raw;
}

} // namespace

ConsoleSession::ConsoleSession(const SessionSettings &settings, std::FILE *in, std::FILE *out)
	: fault_(settings.fault), cut_bytes_(settings.cut_bytes), log_path_(settings.log_path), log_(settings.log_path), in_(in), out_(out)
{
	if (settings.store_folder)
		store_.emplace(*settings.store_folder);
}

int ConsoleSession::Run()
{
	if (fault_ == FaultMode::Hang)
		HangForever();
	if (fault_ == FaultMode::Late)
		std::this_thread::sleep_for(kLateReply);
	if (fault_ == FaultMode::Orphan)
		LeaveAnOrphan();
	if (fault_ == FaultMode::LeaveEarly)
		return LeaveEarly();
	Print("Lighthouse console stand-in (Zelvan Proximity test tool). Type 'help' for commands.\n");
	if (!store_)
		Error("ZELVAN_LH_STORE is not set: no headset is known, every download will fail");
	if (log_.failed())
		Error("cannot open the command log " + log_path_);
	Prompt();

	std::string raw;
	while (ReadLine(raw)) {
		log_.Received(raw);

		if (fault_ == FaultMode::Crash)
			CrashNow();
		if (fault_ == FaultMode::Slow) {
			std::fflush(out_);
			std::this_thread::sleep_for(kSlowReply);
		}
		const std::string_view line = Trim(WithoutLineEnd(raw));
		const After after = Execute(line);
		if (fault_ == FaultMode::Flood && !line.empty())
			Flood();
		if (after == After::Exit && fault_ != FaultMode::IgnoreExit && fault_ != FaultMode::Orphan)
			break;
		Prompt();
	}
	if (std::feof(in_))
		log_.EndOfInput();
	if (fault_ == FaultMode::IgnoreExit || fault_ == FaultMode::Orphan)
		HangForever();
	if (fault_ == FaultMode::Late) {
		std::fflush(out_);
		std::this_thread::sleep_for(kLateReply);
	}
	std::fflush(out_);
	return 0;
}

// Nothing is printed before the input is closed, so that whoever reads the
// line printed and writes again finds no reader.
int ConsoleSession::LeaveEarly()
{
	std::string raw;
	if (ReadLine(raw))
		log_.Received(raw);
	std::fclose(in_);
	in_ = nullptr;
	Print("Leaving before reading the rest\n");
	std::fflush(out_);
	return 0;
}

// One line with its LF, or the unterminated rest at the end of input.
bool ConsoleSession::ReadLine(std::string &raw)
{
	raw.clear();
	for (int c = std::getc(in_); c != EOF; c = std::getc(in_)) {
		raw += static_cast<char>(c);
		if (c == '\n')
			return true;
	}
	return !raw.empty();
}

ConsoleSession::After ConsoleSession::Execute(std::string_view line)
{
	if (line.empty())
		return After::Prompt;
	const size_t space = line.find_first_of(" \t");
	const std::string_view command = line.substr(0, space);
	// The rest of the line: Windows paths may hold spaces.
	const std::string argument(space == std::string_view::npos ? std::string_view() : Trim(line.substr(space)));

	if (command == "exit" || command == "quit")
		return After::Exit;
	if (command == "help")
		Help();
	else if (argument.empty() && (command == "serial" || command == "downloadconfig" || command == "uploadconfig"))
		Error("usage: " + std::string(command) + (command == "serial" ? " <SERIAL>" : " <FILE>"));
	else if (command == "serial")
		SelectSerial(argument);
	else if (command == "downloadconfig")
		Download(argument);
	else if (command == "uploadconfig")
		Upload(argument);
	else
		Error("unknown command '" + std::string(command) + "' (try 'help')");
	return After::Prompt;
}

void ConsoleSession::SelectSerial(const std::string &serial)
{
	// A failed selection leaves none: the next download must not reach the
	// previously selected headset.
	selected_.clear();
	if (!store_) {
		Error("no device with serial " + serial + " (ZELVAN_LH_STORE is not set)");
		return;
	}
	if (!store_->Has(serial)) {
		Error("no device with serial " + serial);
		return;
	}
	selected_ = serial;
	Print("Selected device " + serial + "\n");
}

bool ConsoleSession::HaveSelection()
{
	if (selected_.empty())
		Error("no device selected (use 'serial <SERIAL>' first)");
	return !selected_.empty();
}

void ConsoleSession::Download(const std::string &path)
{
	if (!HaveSelection())
		return;
	std::optional<std::string> text = store_->Load(selected_);
	if (!text) {
		Error("no configuration stored for " + selected_);
		return;
	}
	if (fault_ == FaultMode::NoDefaultMm)
		text = WithoutDefaultMm(std::move(*text));
	else if (fault_ == FaultMode::BadDefaultMm)
		text = WithQuotedDefaultMm(std::move(*text));
	if (fault_ == FaultMode::Cut) {
		// Like a tool that dies half-way through writing: the file is left cut.
		WriteWholeFile(path, std::string_view(*text).substr(0, cut_bytes_));
		CrashNow();
	}
	if (fault_ != FaultMode::NoFile && !WriteWholeFile(path, *text)) {
		Error("cannot write " + path);
		return;
	}
	if (fault_ == FaultMode::SwapFolder || fault_ == FaultMode::SwapFolderDir)
		SwapFolderOf(path);
	Print("Downloaded configuration of " + selected_ + " (" + std::to_string(text->size()) + " bytes) to " + path +
	      "\n");
}

void ConsoleSession::Upload(const std::string &path)
{
	if (!HaveSelection())
		return;
	const std::optional<std::string> text = ReadWholeFile(path);
	if (!text) {
		Error("cannot read " + path);
		return;
	}
	// A headset left with an unreadable configuration would be worse than
	// one left unchanged.
	if (text->empty() || !nlohmann::json::accept(*text)) {
		Error(path + (text->empty() ? " is empty" : " is not valid JSON") + "; nothing uploaded");
		return;
	}
	if (!store_->Save(selected_, *text)) {
		Error("cannot store the configuration of " + selected_ + " in " + store_->PathFor(selected_));
		return;
	}
	Print("Uploaded configuration of " + selected_ + " (" + std::to_string(text->size()) + " bytes) from " + path +
	      "\n");
}

void ConsoleSession::Help()
{
	Print("Commands:\n"
	      "  serial SERIAL          select the headset with this serial\n"
	      "  downloadconfig FILE    write the selected headset's configuration to FILE\n"
	      "  uploadconfig FILE      store FILE as the selected headset's configuration\n"
	      "  help                   this text\n"
	      "  exit, quit             leave\n");
}

// What a chatty tool prints while it talks to the headset: IMU samples.
void ConsoleSession::Flood()
{
	char line[128];
	size_t total = 0;
	for (unsigned i = 0; total < kFloodBytes; ++i) {
		const double t = i * 0.001;
		const int n = std::snprintf(line, sizeof(line),
			"imu %8u t=%10.6f acc=[ %+.6f %+.6f %+.6f ] gyro=[ %+.6f %+.6f %+.6f ]\n", i, t,
			0.01 * (i % 7), -9.80665 + 0.001 * (i % 13), 0.02 * (i % 5), 0.0001 * (i % 11), -0.0002 * (i % 3),
			0.0003 * (i % 17));
		Print(std::string_view(line, static_cast<size_t>(n)));
		total += static_cast<size_t>(n);
	}
}

// The child starts first and the banner follows once it is seen beating, so
// that whoever reads the banner knows the child is alive.
void ConsoleSession::LeaveAnOrphan()
{
	if (!store_) {
		Error("orphan needs ZELVAN_LH_STORE for its heartbeat file");
		return;
	}
	const std::filesystem::path beat = Utf8Path(store_->PathFor("orphan")).replace_extension(".beat");
	if (!StartBeatingChild(Utf8String(beat))) {
		Error("cannot start the child");
		return;
	}
	std::error_code error;
	for (int i = 0; i < 1000 && !std::filesystem::exists(beat, error); ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// What another local user could do to a temporary folder that is not theirs,
// in a parent folder they can write: move it aside and leave a symlink to a
// folder of their own in its place.
void ConsoleSession::SwapFolderOf(const std::string &path)
{
	namespace fs = std::filesystem;
	std::error_code error;
	const fs::path folder = Utf8Path(path).parent_path();
	const fs::path attacker = Utf8Path(store_->PathFor("attacker")).replace_extension();
	fs::rename(folder, Utf8Path(Utf8String(folder) + ".moved"), error);
	if (!error && fault_ == FaultMode::SwapFolderDir)
		fs::create_directory(folder, error);
	else if (!error)
		fs::create_directory_symlink(attacker, folder, error);
	if (error)
		Error("cannot swap " + Utf8String(folder) + ": " + error.message());
}

void ConsoleSession::Print(std::string_view text)
{
	if (fault_ != FaultMode::Silent)
		std::fwrite(text.data(), 1, text.size(), out_);
}

void ConsoleSession::Error(std::string_view text)
{
	Print("Error: " + std::string(text) + "\n");
}

void ConsoleSession::Prompt()
{
	Print(kPrompt);
	std::fflush(out_);
}

void ConsoleSession::HangForever()
{
	std::fflush(out_);
	for (;;)
		std::this_thread::sleep_for(std::chrono::hours(1));
}

} // namespace zelvan::console_standin
