// JSON as SteamVR's reader takes it. Its files can hold comments, a BOM and
// paths in the system's bytes, which a strict UTF-8 parser rejects.
#include "tools/zelvan_ctl/doctor/json_walk.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"

namespace zelvan::ctl {
namespace {

struct Walker {
	explicit Walker(std::string_view text, size_t from = 0) : t(text), i(from) {}

	std::string_view t;
	size_t i;
	std::string error;
	bool too_deep = false;

	bool Fail(const std::string &why)
	{
		size_t line = 1, column = 1;
		for (size_t k = 0; k < i && k < t.size(); ++k) {
			if (t[k] == '\n') {
				++line;
				column = 1;
			} else {
				++column;
			}
		}
		error = "parse error at line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + why;
		return false;
	}

	// Whitespace and comments, which SteamVR's reader allows anywhere
	// between tokens.
	bool Skip()
	{
		while (i < t.size()) {
			const char c = t[i];
			if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
				++i;
			} else if (c == '/' && i + 1 < t.size() && t[i + 1] == '/') {
				const size_t end = t.find('\n', i);
				i = end == std::string_view::npos ? t.size() : end;
			} else if (c == '/' && i + 1 < t.size() && t[i + 1] == '*') {
				const size_t end = t.find("*/", i + 2);
				if (end == std::string_view::npos)
					return Fail("a /* comment is not closed");
				i = end + 2;
			} else {
				break;
			}
		}
		return true;
	}

	static int Hex(char c)
	{
		if (c >= '0' && c <= '9')
			return c - '0';
		if (c >= 'a' && c <= 'f')
			return c - 'a' + 10;
		if (c >= 'A' && c <= 'F')
			return c - 'A' + 10;
		return -1;
	}

	bool Hex4(unsigned &code)
	{
		code = 0;
		for (int k = 0; k < 4; ++k, ++i) {
			const int digit = i < t.size() ? Hex(t[i]) : -1;
			if (digit < 0)
				return Fail("\\u needs four hexadecimal digits");
			code = code * 16 + static_cast<unsigned>(digit);
		}
		return true;
	}

	// From the opening quote; bytes that are not escapes are taken as they
	// are, as SteamVR takes them.
	bool String(std::string &out)
	{
		++i;
		for (;;) {
			const size_t plain = t.find_first_of("\"\\", i);
			if (plain == std::string_view::npos) {
				i = t.size();
				return Fail("a string is not closed");
			}
			out.append(t.substr(i, plain - i));
			i = plain + 1;
			if (t[plain] == '"')
				return true;
			if (i >= t.size())
				return Fail("a string is not closed");
			const char e = t[i++];
			switch (e) {
			case '"': case '\\': case '/': out += e; break;
			case 'b': out += '\b'; break;
			case 'f': out += '\f'; break;
			case 'n': out += '\n'; break;
			case 'r': out += '\r'; break;
			case 't': out += '\t'; break;
			case 'u': {
				unsigned code = 0;
				if (!Hex4(code))
					return false;
				if (code >= 0xD800 && code < 0xDC00 && t.substr(i, 2) == "\\u") {
					const size_t at = i;
					i += 2;
					unsigned low = 0;
					if (!Hex4(low))
						return false;
					if (low >= 0xDC00 && low < 0xE000)
						code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
					else
						i = at; // a lone half, kept as written below
				}
				AppendUtf8(out, code);
				break;
			}
			default:
				--i;
				return Fail("\\" + std::string(1, e) + " is not an escape");
			}
		}
	}

	bool Digits()
	{
		const size_t from = i;
		while (i < t.size() && t[i] >= '0' && t[i] <= '9')
			++i;
		return i > from || Fail("a number lacks its digits");
	}

	bool Number()
	{
		if (t[i] == '-')
			++i;
		if (i < t.size() && t[i] == '0')
			++i;
		else if (!Digits())
			return false;
		if (i < t.size() && t[i] == '.' && (++i, !Digits()))
			return false;
		if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
			++i;
			if (i < t.size() && (t[i] == '+' || t[i] == '-'))
				++i;
			if (!Digits())
				return false;
		}
		return true;
	}

	// A string, number, true, false or null, from its first byte.
	bool Scalar(JsonHandler &h)
	{
		const size_t begin = i;
		const char c = t[i];
		if (c == '"') {
			std::string value;
			if (!String(value))
				return false;
			h.Scalar(begin, i, &value);
			return true;
		}
		if (c == '-' || (c >= '0' && c <= '9')) {
			if (!Number())
				return false;
			h.Scalar(begin, i, nullptr);
			return true;
		}
		for (const std::string_view literal : {"true", "false", "null"})
			if (t.substr(i, literal.size()) == literal) {
				i += literal.size();
				h.Scalar(begin, i, nullptr);
				return true;
			}
		return Fail("expected a value");
	}

	// The structure, without recursion: `open` holds the brackets not yet
	// closed, so that the depth costs memory, not stack.
	bool Walk(JsonHandler &h)
	{
		if (t.substr(0, 3) == "\xEF\xBB\xBF")
			i = 3;
		enum { Value, ValueOrClose, Key, KeyOrClose, CommaOrClose, End } expect = Value;
		std::vector<char> open; // the brackets not yet closed
		for (;;) {
			if (!Skip())
				return false;
			if (i == t.size())
				return expect == End || Fail("the text ends early");
			const char c = t[i];
			if (expect == End)
				return Fail("text after the value");
			if ((expect == ValueOrClose || expect == KeyOrClose || expect == CommaOrClose) &&
			    c == (open.back() == '{' ? '}' : ']')) {
				open.pop_back();
				h.Close(++i);
				expect = open.empty() ? End : CommaOrClose;
				continue;
			}
			if (expect == CommaOrClose) {
				if (c != ',')
					return Fail(open.back() == '{' ? "expected ',' or '}'" : "expected ',' or ']'");
				h.Comma(i++);
				expect = open.back() == '{' ? Key : Value;
				continue;
			}
			if (expect == Key || expect == KeyOrClose) {
				if (c != '"')
					return Fail("expected a key in quotes");
				const size_t at = i;
				std::string key;
				if (!String(key))
					return false;
				if (!Skip())
					return false;
				if (i >= t.size() || t[i] != ':')
					return Fail("expected ':' after a key");
				++i;
				h.Key(std::move(key), at);
				expect = Value;
				continue;
			}
			if (c == '{' || c == '[') {
				if (open.size() >= kMaxJsonDepth) {
					too_deep = true;
					return Fail("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
				}
				open.push_back(c);
				h.Open(c, i++);
				expect = c == '{' ? KeyOrClose : ValueOrClose;
				continue;
			}
			if (!Scalar(h))
				return false;
			expect = open.empty() ? End : CommaOrClose;
		}
	}
};

// Builds the value; strings keep their bytes.
class Builder : public JsonHandler {
public:
	explicit Builder(std::string_view text) : text_(text) {}
	nlohmann::json root;

	void Open(char bracket, size_t) override
	{
		nlohmann::json &slot = Place(bracket == '{' ? nlohmann::json::object() : nlohmann::json::array());
		open_.push_back(&slot);
	}
	void Close(size_t) override { open_.pop_back(); }
	void Key(std::string key, size_t) override { key_ = std::move(key); }
	void Comma(size_t) override {}
	void Scalar(size_t begin, size_t end, const std::string *string) override
	{
		if (string != nullptr) {
			Place(*string);
			return;
		}
		const std::string_view word = text_.substr(begin, end - begin);
		if (word == "true" || word == "false")
			Place(word == "true");
		else if (word == "null")
			Place(nullptr);
		else
			Place(Number(word));
	}

private:
	std::string_view text_;
	std::vector<nlohmann::json *> open_;
	std::string key_;

	nlohmann::json &Place(nlohmann::json value)
	{
		if (open_.empty()) {
			root = std::move(value);
			return root;
		}
		nlohmann::json &parent = *open_.back();
		if (parent.is_array()) {
			parent.push_back(std::move(value));
			return parent.back();
		}
		nlohmann::json &slot = parent[key_]; // the last of the same name counts, as in SteamVR
		slot = std::move(value);
		return slot;
	}

	static nlohmann::json Number(std::string_view word)
	{
		const char *first = word.data(), *last = word.data() + word.size();
		if (word.find_first_of(".eE") == std::string_view::npos) {
			if (word[0] == '-') {
				std::int64_t n = 0;
				if (const auto r = std::from_chars(first, last, n); r.ec == std::errc() && r.ptr == last)
					return n;
			} else {
				std::uint64_t n = 0;
				if (const auto r = std::from_chars(first, last, n); r.ec == std::errc() && r.ptr == last)
					return n;
			}
		}
		double d = 0;
		const auto r = std::from_chars(first, last, d);
		if (r.ec == std::errc::result_out_of_range) {
			// Beyond a double's range (1e+9999) or below its smallest step.
			const bool huge = word.find_first_of("eE") != std::string_view::npos &&
			                  word[word.find_first_of("eE") + 1] != '-';
			d = huge ? (word[0] == '-' ? -HUGE_VAL : HUGE_VAL) : 0.0;
		}
		return d;
	}
};

} // namespace

std::string WalkJson(std::string_view text, JsonHandler &handler, bool *too_deep)
{
	Walker walker(text);
	walker.Walk(handler);
	if (too_deep != nullptr)
		*too_deep = walker.too_deep;
	return walker.error;
}

bool ReadJsonBytes(const std::string &path, std::string &bytes, std::string &error)
{
	std::FILE *file = OpenRegularFile(path, false);
	if (file == nullptr) {
		error = "cannot be opened as a file";
		return false;
	}
	char buffer[65536];
	size_t n = 0;
	bool ok = true;
	while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
		bytes.append(buffer, n);
		if (bytes.size() > kMaxJsonFileBytes) {
			error = "is larger than " + std::to_string(kMaxJsonFileBytes >> 20) + " MiB";
			ok = false;
			break;
		}
	}
	if (ok && std::ferror(file)) {
		error = "cannot be read";
		ok = false;
	}
	std::fclose(file);
	return ok;
}

std::string ParseJson(std::string_view text, nlohmann::json &value)
{
	Builder builder(text);
	std::string error = WalkJson(text, builder);
	value = error.empty() ? std::move(builder.root) : nlohmann::json();
	return error;
}

size_t JsonValueStart(std::string_view text)
{
	Walker skip(text, text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0);
	skip.Skip();
	return skip.i;
}

} // namespace zelvan::ctl
