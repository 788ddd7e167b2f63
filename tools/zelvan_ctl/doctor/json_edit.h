// SteamVR's JSON files outlined and edited in place, byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/zelvan_ctl/doctor/json_walk.h"

namespace zelvan::ctl {

// A member of the top-level object or of an object that is one of its values.
struct JsonMember {
	size_t object = 0;    // offset of the '{' that holds it
	std::string key;      // decoded
	size_t key_begin = 0; // its opening quote
	size_t value_begin = 0, value_end = 0;
	size_t comma = std::string::npos; // the ',' after it, npos for the last
	bool is_string = false;
	std::string string; // the value, decoded, when it is a string
};

// The members of `text`'s top-level object and of the objects among its
// values, in the order written, and where the value begins (a '{' when it
// is an object); "" or why it is not JSON, as WalkJson.
std::string OutlineJsonObject(std::string_view text, size_t &root, std::vector<JsonMember> &members,
                              bool *too_deep = nullptr);

// `text` without the object's `members` (all of it, in order) marked in
// `drop`; the object runs from `open` (its '{') to `end` (just after its
// '}'). Every other byte stays as it was: a dropped member goes with its
// line when it has one to itself and with the comma that separated it; an
// object left empty is written "{}", as SteamVR writes one.
std::string WithoutMembers(const std::string &text, size_t open, size_t end, const std::vector<JsonMember> &members,
                           const std::vector<bool> &drop);

} // namespace zelvan::ctl
