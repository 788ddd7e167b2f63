// The console stand-in as the driver meets it: started with piped standard
// streams, typed at, and left to exit or be killed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "console_pipe.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char *kSerial = "LHR-1A2B3C4D";

std::string Tool()
{
	return BinPath(std::string("lighthouse_console") + kExeSuffix);
}

// Cases are named after their `name` field.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case> &param_info)
{
	return param_info.param.name;
}

size_t Count(const std::string &text, const std::string &part)
{
	size_t n = 0;
	for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
		++n;
	return n;
}

std::optional<std::string> Slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	if (!in)
		return std::nullopt;
	std::ostringstream text;
	text << in.rdbuf();
	return text.str();
}

class ConsoleStandinTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::filesystem::create_directories(scratch_.path() / "dir with space");
		SetEnvironment("ZELVAN_LH_STORE", Store());
		SetEnvironment("ZELVAN_LH_LOG", scratch_.File("commands.log"));
		SetEnvironment("ZELVAN_LH_FAULT", "");
		const RunResult init = RunProgram({Tool(), "--init-store", Store(), kSerial});
		ASSERT_EQ(init.exit_code, 0) << init.output;
		stored_ = *Slurp(StoredFile());
	}

	std::string Store() const { return scratch_.File("store"); }
	std::string StoredFile() const { return (scratch_.path() / "store" / (std::string(kSerial) + ".json")).string(); }
	std::string Download() const { return (scratch_.path() / "dir with space" / "dl.json").string(); }
	std::string Log() const { return Slurp(scratch_.File("commands.log")).value_or(""); }

	struct Session {
		std::optional<int> status;
		std::string output;
	};

	// Types `input`, closes standard input and waits for the end.
	Session Type(const std::string &input)
	{
		ConsolePipe console;
		EXPECT_TRUE(console.Start(Tool()));
		console.Write(input);
		console.CloseInput();
		const std::optional<int> status = console.Wait(60s);
		console.WaitForOutputEnd(10s);
		return {status, console.Output()};
	}

	ScratchDir scratch_;
	std::string stored_;
};

struct RoundTripCase {
	const char *name;
	std::string text;
	friend void PrintTo(const RoundTripCase &c, std::ostream *os) { *os << c.name; }
};

class RoundTripTest : public ConsoleStandinTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTripTest, UploadThenDownloadKeepsEveryByte)
{
	const std::string upload = scratch_.File("ul.json");
	scratch_.Write("ul.json", GetParam().text);
	const Session s = Type("serial " + std::string(kSerial) + "\r\nuploadconfig " + upload + "\r\ndownloadconfig " +
	                       Download() + "\r\nexit\r\n");
	EXPECT_EQ(s.status, 0) << s.output;
	EXPECT_EQ(Slurp(StoredFile()), GetParam().text);
	EXPECT_EQ(Slurp(Download()), GetParam().text) << s.output;
}

std::string Big()
{
	std::string text = "{\n   \"samples\" : [\n";
	for (int i = 0; i < 20000; ++i)
		text += "      " + std::to_string(i * 0.123456789) + ",\n";
	return text + "      0\n   ]\n}\n";
}

INSTANTIATE_TEST_SUITE_P(Texts, RoundTripTest, ::testing::Values(
	RoundTripCase{"CrLf", "{\r\n   \"ipd\" : {\r\n      \"default_mm\" : 64.0\r\n   }\r\n}\r\n"},
	RoundTripCase{"TabsNoFinalNewline", "{\n\t\"ipd\" :\t{ \"default_mm\" : 58.5 }\n}"},
	RoundTripCase{"BomAndUtf8", "\xEF\xBB\xBF{ \"model_number\" : \"Zelvan 2 \xC3\xA9\", \"default_mm\" : 6.35e1 }\n"},
	RoundTripCase{"LoneCrAndTrailingSpaces", "{ \"a\" : 1,\r   \"b\" : 2 }   \n\n"},
	RoundTripCase{"LargerThanOneRead", Big()}),
	CaseName<RoundTripCase>);

struct ErrorCase {
	const char *name;
	std::string commands; // {DL} is the download path, {UL} a file in the scratch folder
	std::string upload;   // written to {UL} when not empty
	std::string message;
	friend void PrintTo(const ErrorCase &c, std::ostream *os) { *os << c.name; }
};

class CommandErrorTest : public ConsoleStandinTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(CommandErrorTest, ReportsWritesNothingAndCarriesOn)
{
	std::string commands = GetParam().commands;
	for (const auto &[mark, path] : {std::pair{"{DL}", Download()}, std::pair{"{UL}", scratch_.File("ul.json")}})
		for (size_t at = commands.find(mark); at != std::string::npos; at = commands.find(mark))
			commands.replace(at, 4, path);
	if (!GetParam().upload.empty())
		scratch_.Write("ul.json", GetParam().upload == "<empty>" ? "" : GetParam().upload);
	const Session s = Type(commands + "exit\r\n");
	EXPECT_EQ(s.status, 0);
	EXPECT_NE(s.output.find("Error: "), std::string::npos) << s.output;
	EXPECT_NE(s.output.find(GetParam().message), std::string::npos) << s.output;
	EXPECT_EQ(Count(s.output, "lh> "), Count(commands, "\n") + 1) << "a prompt after every command";
	EXPECT_FALSE(Slurp(Download()));
	EXPECT_EQ(Slurp(StoredFile()), stored_);
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandErrorTest, ::testing::Values(
	ErrorCase{"DownloadWithoutSerial", "downloadconfig {DL}\r\n", "", "no device selected"},
	ErrorCase{"UnknownSerial", "serial LHR-FFFFFFFF\r\ndownloadconfig {DL}\r\n", "", "no device with serial LHR-FFFFFFFF"},
	ErrorCase{"SerialInOtherCase", "serial lhr-1a2b3c4d\r\ndownloadconfig {DL}\r\n", "", "no device with serial"},
	ErrorCase{"FailedSelectionDropsTheOld", "serial LHR-1A2B3C4D\r\nserial LHR-0\r\ndownloadconfig {DL}\r\n", "",
	          "no device selected"},
	ErrorCase{"UploadMissingFile", "serial LHR-1A2B3C4D\r\nuploadconfig {UL}\r\n", "", "cannot read"},
	ErrorCase{"UploadNotJson", "serial LHR-1A2B3C4D\r\nuploadconfig {UL}\r\n", "{ \"default_mm\" : 64.0.5 }",
	          "not valid JSON"},
	ErrorCase{"UploadEmpty", "serial LHR-1A2B3C4D\r\nuploadconfig {UL}\r\n", "<empty>", "is empty"},
	ErrorCase{"NoArgument", "serial LHR-1A2B3C4D\r\ndownloadconfig\r\n", "", "usage: downloadconfig <FILE>"},
	ErrorCase{"UnknownCommand", "downloadconfg {DL}\r\n", "", "unknown command 'downloadconfg'"}),
	CaseName<ErrorCase>);

TEST_F(ConsoleStandinTest, WithoutAStoreEveryDownloadFails)
{
	SetEnvironment("ZELVAN_LH_STORE", "");
	const Session s = Type("serial " + std::string(kSerial) + "\ndownloadconfig " + Download() + "\nexit\n");
	EXPECT_EQ(s.status, 0);
	EXPECT_NE(s.output.find("ZELVAN_LH_STORE is not set"), std::string::npos) << s.output;
	EXPECT_FALSE(Slurp(Download()));
}

enum class Ends { Normally, Abnormally, Never };
enum class File { Stored, Missing, WithoutKey, QuotedValue };

struct FaultCase {
	const char *fault;
	bool prints;
	Ends ends;
	File file;
	size_t log_lines;
	std::chrono::seconds at_least;
	size_t output_at_least = 0;
	friend void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.fault; }
};

class FaultModeTest : public ConsoleStandinTest, public ::testing::WithParamInterface<FaultCase> {};

// Two commands, one read, "exit", end of input, a bounded wait: the driver's way.
TEST_P(FaultModeTest, BehavesAsChosenWhenDrivenLikeTheDriver)
{
	const FaultCase &c = GetParam();
	SetEnvironment("ZELVAN_LH_FAULT", c.fault);
	ConsolePipe console;
	const auto start = Clock::now();
	ASSERT_TRUE(console.Start(Tool()));
	console.Write("serial " + std::string(kSerial) + "\r\ndownloadconfig " + Download() + "\r\n");
	EXPECT_EQ(console.WaitForOutput("lh> ", c.prints ? 20s : 2s), c.prints);
	console.Write("exit\r\n");
	console.CloseInput();
	const std::optional<int> status = console.Wait(c.ends == Ends::Never ? 3s : 60s);
	const auto elapsed = Clock::now() - start;
	console.Kill();
	console.WaitForOutputEnd(10s);

	if (c.ends == Ends::Never) {
		EXPECT_FALSE(status) << "exit status " << status.value_or(0);
	} else {
		ASSERT_TRUE(status) << "still running";
		EXPECT_EQ(*status != 0, c.ends == Ends::Abnormally) << "exit status " << *status;
	}
	if (!c.prints) {
		EXPECT_EQ(console.Output(), "");
	}
	EXPECT_GE(elapsed, c.at_least);
	EXPECT_GE(console.OutputSize(), c.output_at_least);
	EXPECT_EQ(Count(Log(), "\n"), c.log_lines) << Log();

	const std::optional<std::string> downloaded = Slurp(Download());
	switch (c.file) {
	case File::Stored: EXPECT_EQ(downloaded, stored_); break;
	case File::Missing: EXPECT_FALSE(downloaded); break;
	case File::WithoutKey:
		ASSERT_TRUE(downloaded);
		EXPECT_EQ(downloaded->find("\"default_mm\""), std::string::npos);
		EXPECT_TRUE(nlohmann::json::accept(*downloaded));
		break;
	case File::QuotedValue:
		ASSERT_TRUE(downloaded);
		EXPECT_NE(downloaded->find("\"default_mm\" : \"63.5\","), std::string::npos);
		break;
	}
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultModeTest, ::testing::Values(
	FaultCase{"", true, Ends::Normally, File::Stored, 3, 0s},
	FaultCase{"hang", false, Ends::Never, File::Missing, 0, 0s},
	FaultCase{"ignore_exit", true, Ends::Never, File::Stored, 4, 0s},
	FaultCase{"silent", false, Ends::Normally, File::Stored, 3, 0s},
	// serial, downloadconfig and exit: 512 KiB each, far beyond a pipe's buffer
	FaultCase{"flood", true, Ends::Normally, File::Stored, 3, 0s, 3 * 500 * 1024},
	FaultCase{"crash", true, Ends::Abnormally, File::Missing, 1, 0s},
	FaultCase{"no_file", true, Ends::Normally, File::Missing, 3, 0s},
	FaultCase{"no_default_mm", true, Ends::Normally, File::WithoutKey, 3, 0s},
	FaultCase{"bad_default_mm", true, Ends::Normally, File::QuotedValue, 3, 0s},
	FaultCase{"slow", true, Ends::Normally, File::Stored, 3, 5s}),
	[](const auto &param_info) { return std::string(*param_info.param.fault ? param_info.param.fault : "none"); });

struct LogCase {
	const char *name;
	std::string input;
	std::string log;
	friend void PrintTo(const LogCase &c, std::ostream *os) { *os << c.name; }
};

class CommandLogTest : public ConsoleStandinTest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(CommandLogTest, RecordsEachLineAsReceived)
{
	Type(GetParam().input);
	Type(GetParam().input);
	EXPECT_EQ(Log(), GetParam().log + GetParam().log) << "appended, never truncated";
}

INSTANTIATE_TEST_SUITE_P(Lines, CommandLogTest, ::testing::Values(
	LogCase{"CrLf", "serial LHR-1A2B3C4D\r\nexit\r\n", "serial LHR-1A2B3C4D\\r\\n\nexit\\r\\n\n"},
	LogCase{"Lf", "serial LHR-1A2B3C4D\nexit\n", "serial LHR-1A2B3C4D\\n\nexit\\n\n"},
	LogCase{"UnterminatedThenEnd", "serial LHR-1A2B3C4D", "serial LHR-1A2B3C4D\n<end of input>\n"},
	LogCase{"Escapes", "downloadconfig C:\\x y\\r.json\t\x01\x7F\xC3\xA9\r\n",
	        "downloadconfig C:\\\\x y\\\\r.json\\t\\x01\\x7F\xC3\xA9\\r\\n\n<end of input>\n"}),
	CaseName<LogCase>);

struct CliCase {
	const char *name;
	std::vector<std::string> args; // {DIR} is a fresh folder
	std::map<std::string, std::string> env;
	int exit_code;
	std::string output;
	bool writes_store;
	friend void PrintTo(const CliCase &c, std::ostream *os) { *os << c.name; }
};

class CommandLineTest : public ConsoleStandinTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CommandLineTest, ExitsWithItsStatus)
{
	const std::string dir = scratch_.File("new store");
	std::vector<std::string> argv{Tool()};
	for (const std::string &a : GetParam().args)
		argv.push_back(a == "{DIR}" ? dir : a);
	const RunResult r = RunProgram(argv, GetParam().env, 30s);
	EXPECT_EQ(r.exit_code, GetParam().exit_code) << r.output;
	EXPECT_NE(r.output.find(GetParam().output), std::string::npos) << r.output;
	EXPECT_EQ(std::filesystem::exists(std::filesystem::path(dir) / "S-1.json"), GetParam().writes_store);
}

INSTANTIATE_TEST_SUITE_P(Invocations, CommandLineTest, ::testing::Values(
	CliCase{"Help", {"--help"}, {}, 0, "ZELVAN_LH_FAULT", false},
	CliCase{"InitStoreVerbatimNumber", {"--init-store", "{DIR}", "S-1", "6.35e1"}, {}, 0, "(default_mm 6.35e1)", true},
	CliCase{"InitStoreBadNumber", {"--init-store", "{DIR}", "S-1", "63,5"}, {}, 64, "JSON number", false},
	CliCase{"InitStoreBadSerial", {"--init-store", "{DIR}", "../S-1"}, {}, 64, "cannot be a serial", false},
	CliCase{"InitStoreMissingSerial", {"--init-store", "{DIR}"}, {}, 64, "DIR SERIAL [MM]", false},
	CliCase{"UnknownArgument", {"--bogus"}, {}, 64, "unknown argument", false},
	CliCase{"UnknownFault", {}, {{"ZELVAN_LH_FAULT", "explode"}}, 2, "unknown ZELVAN_LH_FAULT 'explode'", false}),
	CaseName<CliCase>);

} // namespace
} // namespace zelvan::test
