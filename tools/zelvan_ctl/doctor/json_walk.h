// SteamVR's JSON files as its reader takes them (comments, a BOM, any bytes
// in strings), walked without recursion, with the offsets an edit in place
// needs (json_edit.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

// Where the top-level value begins: after a BOM, blanks and comments.
size_t JsonValueStart(std::string_view text);

} // namespace zelvan::ctl
