// Reading the driver's replies: key=value lists into typed JSON.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace zelvan::ctl {

// "OK", "ERR" or a status line (key=value pairs without a leading word).
enum class ReplyKind { Ok, Error, Status, Other };
ReplyKind ClassifyReply(const std::string &reply);

// The key=value pairs of a reply as one object: numbers as numbers, true and
// false as booleans, everything else as text. An "OK"/"ERR" reply also gets
// "ok" (bool) and "message" (the text after the first word).
nlohmann::json ReplyToJson(const std::string &reply);

// One line for --watch: presence, source, raw reading, average against the
// threshold band and the sample count.
std::string WatchLine(const nlohmann::json &status);

} // namespace zelvan::ctl
