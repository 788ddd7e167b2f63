// The plot `zelvan-ctl tune --svg` writes: the readings, the average and
// switching band at the current and the recommended settings, presence for
// each and the labelled phases, in one self-contained SVG file.
#pragma once

#include <string>

#include "tools/zelvan_ctl/tuning/recording.h"
#include "tools/zelvan_ctl/tuning/tune.h"

namespace zelvan::ctl {

// At most this many points per line, however long the recording.
inline constexpr int kSvgPlotWidth = 1100;

std::string TuneSvg(const Recording &recording, const TuneResult &result, const std::string &title);

// Writes `text` to a temporary file beside `path` and renames it over
// `path`, so that a failed write leaves any old file as it was. False, with
// `error` saying why, when it cannot.
bool WriteFileReplacing(const std::string &path_utf8, const std::string &text, std::string &error);

} // namespace zelvan::ctl
