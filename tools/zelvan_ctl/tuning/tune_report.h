// The sentences of tune's report, for the ranking's reason and the report.
#pragma once

#include <cstdint>
#include <string>

#include "tools/zelvan_ctl/tuning/tune.h"

namespace zelvan::ctl {

// One score as a person reads it: switches, changes missed and how long
// presence took.
std::string Describe(const TuneScore &score);

// Why `best` is recommended over `now`.
std::string Reason(const TuneScore &now, const TuneScore &best);

} // namespace zelvan::ctl
