// zelvan-ctl doctor: the findings as lines for a person or as one JSON array.
#include "tools/zelvan_ctl/doctor.h"

#include <cstdio>
#include <iostream>

#include "core/text_escape.h"

namespace zelvan::ctl {
namespace {

const char *Word(Verdict verdict)
{
	return verdict == Verdict::Ok ? "ok" : verdict == Verdict::Warn ? "warn" : "FAIL";
}

} // namespace

void Print(const std::vector<Finding> &findings, bool json)
{
	if (json) {
		nlohmann::json out = nlohmann::json::array();
		for (const Finding &f : findings) {
			nlohmann::json item = {{"check", f.check}, {"status", Word(f.verdict)}, {"found", EscapeControlBytes(f.found)}};
			if (!f.remedy.empty())
				item["remedy"] = EscapeControlBytes(f.remedy);
			out.push_back(item);
		}
		std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
		return;
	}
	int counts[3] = {};
	for (const Finding &f : findings) {
		++counts[static_cast<int>(f.verdict)];
		// Paths, sysfs names and the driver's words may hold control bytes that
		// would steer the terminal; escaping twice changes nothing.
		std::printf("%-4s  %-16s %s%s%s\n", Word(f.verdict), f.check.c_str(), EscapeControlBytes(f.found).c_str(),
		            f.remedy.empty() ? "" : " -- ", EscapeControlBytes(f.remedy).c_str());
	}
	std::printf("%d ok, %d warn, %d FAIL: %s\n", counts[0], counts[1], counts[2],
	            counts[2] > 0 ? "fix the FAIL lines from the top" : counts[1] > 0 ? "nothing failed" : "all good");
}

} // namespace zelvan::ctl
