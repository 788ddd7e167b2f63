// Edits of SteamVR's JSON files in place: an edit must leave every byte it
// does not mean to change, comments and numbers as written among them.
#include "tools/zelvan_ctl/doctor/json_edit.h"

#include <algorithm>

namespace zelvan::ctl {
namespace {

// Records the members at the two upper levels.
class Outliner : public JsonHandler {
public:
	explicit Outliner(std::vector<JsonMember> &members) : members_(members) {}

	void Open(char bracket, size_t at) override
	{
		StartValue(at);
		open_.push_back({bracket, at, std::string::npos});
	}
	void Close(size_t end) override
	{
		open_.pop_back();
		EndValue(end);
	}
	void Key(std::string key, size_t at) override
	{
		if (open_.size() > 2)
			return;
		JsonMember member;
		member.object = open_.back().at;
		member.key = std::move(key);
		member.key_begin = at;
		open_.back().member = members_.size();
		members_.push_back(std::move(member));
	}
	void Scalar(size_t begin, size_t end, const std::string *string) override
	{
		StartValue(begin);
		if (string != nullptr && Current() != nullptr) {
			Current()->is_string = true;
			Current()->string = *string;
		}
		EndValue(end);
	}
	void Comma(size_t at) override
	{
		if (JsonMember *member = Current())
			member->comma = at;
	}

private:
	struct Container {
		char bracket;
		size_t at;
		size_t member; // the member being read, in an object of the upper levels
	};
	std::vector<JsonMember> &members_;
	std::vector<Container> open_;

	JsonMember *Current()
	{
		if (open_.empty() || open_.size() > 2 || open_.back().bracket != '{' || open_.back().member == std::string::npos)
			return nullptr;
		return &members_[open_.back().member];
	}
	void StartValue(size_t at)
	{
		if (JsonMember *member = Current())
			member->value_begin = at;
	}
	void EndValue(size_t end)
	{
		if (JsonMember *member = Current())
			member->value_end = end;
	}
};

size_t LineStartOrKey(const std::string &text, size_t key)
{
	size_t k = key;
	while (k > 0 && (text[k - 1] == ' ' || text[k - 1] == '\t'))
		--k;
	return k == 0 || text[k - 1] == '\n' ? k : key;
}

// After `from`: blanks, a // comment, and (with `line`) the line's end.
size_t RestOfLine(const std::string &text, size_t from, bool line)
{
	size_t k = from;
	while (k < text.size() && (text[k] == ' ' || text[k] == '\t'))
		++k;
	if (text.compare(k, 2, "//") == 0)
		k = std::min(text.find('\n', k), text.size());
	if (line && text.compare(k, 2, "\r\n") == 0)
		return k + 2;
	if (line && k < text.size() && text[k] == '\n')
		return k + 1;
	return k;
}

} // namespace

std::string OutlineJsonObject(std::string_view text, size_t &root, std::vector<JsonMember> &members, bool *too_deep)
{
	members.clear();
	Outliner outliner(members);
	const std::string error = WalkJson(text, outliner, too_deep);
	root = JsonValueStart(text);
	return error;
}

std::string WithoutMembers(const std::string &text, size_t open, size_t end, const std::vector<JsonMember> &members,
                           const std::vector<bool> &drop)
{
	size_t kept = std::string::npos; // the last member that stays
	for (size_t m = 0; m < members.size(); ++m)
		if (!drop[m])
			kept = m;
	if (kept == std::string::npos)
		return text.substr(0, open) + "{}" + text.substr(end);
	std::vector<std::pair<size_t, size_t>> cut; // in order, apart
	for (size_t m = 0; m < kept; ++m) {
		if (!drop[m])
			continue;
		const size_t from = LineStartOrKey(text, members[m].key_begin);
		cut.emplace_back(from, RestOfLine(text, members[m].comma + 1, from != members[m].key_begin));
	}
	// Those after the last kept one take its comma, and nothing else of its
	// line: a comment after that comma is the kept member's.
	if (kept + 1 < members.size())
		cut.emplace_back(members[kept].comma, members[kept].comma + 1);
	for (size_t m = kept + 1; m < members.size(); ++m) {
		const size_t from = LineStartOrKey(text, members[m].key_begin);
		const size_t after = members[m].comma != std::string::npos ? members[m].comma + 1 : members[m].value_end;
		if (from != members[m].key_begin) {
			cut.emplace_back(from, RestOfLine(text, after, true));
			continue;
		}
		// On a line with others: the blanks before it go too.
		size_t begin = from;
		while (begin > cut.back().second && (text[begin - 1] == ' ' || text[begin - 1] == '\t'))
			--begin;
		cut.emplace_back(begin, after);
	}
	std::string out;
	size_t at = 0;
	for (const auto &[from, to] : cut) {
		out.append(text, at, from - at);
		at = to;
	}
	return out + text.substr(at);
}

} // namespace zelvan::ctl
