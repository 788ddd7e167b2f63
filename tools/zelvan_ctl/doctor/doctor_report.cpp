// The doctor's findings as lines for a person or as one JSON array.
#include "tools/zelvan_ctl/doctor/doctor.h"

#include <cstdio>

#include "core/text_escape.h"

namespace zelvan::ctl {
namespace {

const char *Word(Verdict verdict)
{
	return verdict == Verdict::Ok ? "ok" : verdict == Verdict::Warn ? "warn" : "FAIL";
}

// The length of the well-formed UTF-8 sequence at `at`, or 0.
size_t SequenceLength(const std::string &text, size_t at)
{
	const auto byte = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
	const unsigned lead = byte(at);
	if (lead < 0x80)
		return 1;
	if (lead < 0xC2 || lead > 0xF4)
		return 0;
	const size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
	// The second byte's range rules out overlong forms, surrogates and
	// code points past U+10FFFF.
	const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
	const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
	if (byte(at + 1) < low || byte(at + 1) > high)
		return 0;
	for (size_t k = 2; k < length; ++k)
		if (byte(at + k) < 0x80 || byte(at + k) > 0xBF)
			return 0;
	return length;
}

} // namespace

std::string EscapeForTerminal(const std::string &text)
{
	const std::string escaped = EscapeControlBytes(text);
	std::string out;
	out.reserve(escaped.size());
	for (size_t i = 0; i < escaped.size();) {
		const size_t length = SequenceLength(escaped, i);
		if (length > 0) {
			out.append(escaped, i, length);
			i += length;
			continue;
		}
		char hex[8];
		std::snprintf(hex, sizeof(hex), "\\x%02X", static_cast<unsigned char>(escaped[i++]));
		out += hex;
	}
	return out;
}

nlohmann::json FindingsJson(const std::vector<Finding> &findings)
{
	nlohmann::json out = nlohmann::json::array();
	for (const Finding &f : findings) {
		nlohmann::json item = {{"check", f.check}, {"status", Word(f.verdict)}, {"found", EscapeForTerminal(f.found)}};
		if (!f.remedy.empty())
			item["remedy"] = EscapeForTerminal(f.remedy);
		out.push_back(item);
	}
	return out;
}

std::string FindingsText(const std::vector<Finding> &findings)
{
	std::string out;
	char line[64];
	int counts[3] = {};
	for (const Finding &f : findings) {
		++counts[static_cast<int>(f.verdict)];
		// Paths, sysfs names and the driver's words may hold control bytes that
		// would steer the terminal; escaping twice changes nothing.
		std::snprintf(line, sizeof(line), "%-4s  %-16s ", Word(f.verdict), f.check.c_str());
		out += line + EscapeForTerminal(f.found) + (f.remedy.empty() ? "" : " -- ") + EscapeForTerminal(f.remedy) + "\n";
	}
	std::snprintf(line, sizeof(line), "%d ok, %d warn, %d FAIL: ", counts[0], counts[1], counts[2]);
	out += line;
	out += counts[2] > 0 ? "fix the FAIL lines from the top\n" : counts[1] > 0 ? "nothing failed\n" : "all good\n";
	return out;
}

} // namespace zelvan::ctl
