// zelvan-ctl: SteamVR's JSON files as its reader takes them (comments, a BOM,
// any bytes in strings), walked without recursion, with the offsets an edit
// in place needs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace zelvan::ctl {

// SteamVR's files nest a few levels; deeper text is refused before any work
// that grows with the depth.
inline constexpr size_t kMaxJsonDepth = 512;

// steamvr.vrsettings keeps a section for every app, device and driver SteamVR
// has seen, and a heavily used one reaches several MB; the cap only keeps a
// runaway file from filling memory.
inline constexpr size_t kMaxJsonFileBytes = size_t{64} << 20;

// What the walk reports, in the order of the text. Offsets are into the text.
class JsonHandler {
public:
	virtual ~JsonHandler() = default;
	virtual void Open(char bracket, size_t at) = 0; // '{' or '['
	virtual void Close(size_t end) = 0;             // just after the '}' or ']'
	virtual void Key(std::string key, size_t at) = 0;
	// A string (decoded, bytes as written), number, true, false or null.
	virtual void Scalar(size_t begin, size_t end, const std::string *string) = 0;
	virtual void Comma(size_t at) = 0;
};

// "" when `text` holds one JSON value, else where and why it does not;
// `too_deep`: the reason is the depth alone, so far.
std::string WalkJson(std::string_view text, JsonHandler &handler, bool *too_deep = nullptr);

// The file's bytes, when it is a regular file of at most kMaxJsonFileBytes;
// else false with why in `error`.
bool ReadJsonBytes(const std::string &path, std::string &bytes, std::string &error);

// The value of `text`, strings kept as their bytes (display escapes them), a
// number beyond a double's range as infinity; "" or why it is not JSON.
std::string ParseJson(std::string_view text, nlohmann::json &value);

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
