// zelvan-ctl doctor: what SteamVR itself decided about the driver. Its
// settings file can block the driver after a crash or hold it turned off,
// and its path registry can name the driver twice or name folders that are
// gone.
#include "tools/zelvan_ctl/doctor_steamvr.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"
#include "tools/zelvan_ctl/utf8_path.h"

namespace zelvan::ctl {

const char *const kDriverSection = "driver_ZelvanProximity";

namespace {

namespace fs = std::filesystem;

Finding Make(const char *check, Verdict verdict, std::string found, std::string remedy = {})
{
	return Finding{check, verdict, std::move(found), verdict == Verdict::Ok ? std::string() : std::move(remedy)};
}

std::string Esc(const std::string &text)
{
	return EscapeControlBytes(text);
}

bool ReadBytes(const std::string &path, std::string &bytes)
{
	std::FILE *file = OpenRegularFile(path, false);
	if (file == nullptr)
		return false;
	char buffer[8192];
	size_t n = 0;
	bool ok = true;
	while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
		bytes.append(buffer, n);
		if (bytes.size() > kMaxRuntimeFileBytes) {
			ok = false;
			break;
		}
	}
	ok = ok && !std::ferror(file);
	std::fclose(file);
	return ok;
}

// "parse error at line 3, column 1: ..." without the library's own prefix.
std::string ParseErrorText(const nlohmann::json::parse_error &error)
{
	const std::string what = error.what();
	const size_t at = what.find("] ");
	return Esc(at == std::string::npos ? what : what.substr(at + 2));
}

// jsoncpp's rule, which SteamVR's writer follows: an array goes on one line
// when it holds no non-empty container and fits the right margin.
constexpr size_t kRightMargin = 74;

void Styled(const nlohmann::json &value, const std::string &indent, std::string &out)
{
	const std::string inner = indent + "   ";
	if (value.is_object()) {
		if (value.empty()) {
			out += "{}";
			return;
		}
		out += "{\n";
		size_t i = 0;
		for (auto it = value.begin(); it != value.end(); ++it, ++i) {
			out += inner + nlohmann::json(it.key()).dump() + " : ";
			Styled(it.value(), inner, out);
			out += i + 1 < value.size() ? ",\n" : "\n";
		}
		out += indent + "}";
		return;
	}
	if (value.is_array()) {
		if (value.empty()) {
			out += "[]";
			return;
		}
		bool multiline = value.size() * 3 >= kRightMargin;
		std::vector<std::string> items;
		for (const auto &item : value) {
			if ((item.is_array() || item.is_object()) && !item.empty())
				multiline = true;
			std::string text;
			Styled(item, inner, text);
			items.push_back(std::move(text));
		}
		size_t length = 4 + (items.size() - 1) * 2;
		for (const std::string &item : items)
			length += item.size();
		if (!multiline && length < kRightMargin) {
			out += "[ ";
			for (size_t i = 0; i < items.size(); ++i)
				out += (i > 0 ? ", " : "") + items[i];
			out += " ]";
			return;
		}
		out += "[\n";
		for (size_t i = 0; i < items.size(); ++i)
			out += inner + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
		out += indent + "]";
		return;
	}
	out += value.dump();
}

std::string List(const std::vector<std::string> &items)
{
	std::string out;
	for (const std::string &item : items)
		out += (out.empty() ? "" : ", ") + Esc(item);
	return out;
}

// Two spellings of one folder (a trailing separator, a symlink) are one copy.
std::string SameFolderKey(const std::string &dir)
{
	std::error_code error;
	const fs::path path = Utf8Path(dir);
	const fs::path canonical = fs::weakly_canonical(path, error);
	std::string key = Utf8String((error ? path : canonical).lexically_normal());
	while (key.size() > 1 && (key.back() == '/' || key.back() == '\\'))
		key.pop_back();
	return key;
}

} // namespace

FolderState RegisteredFolderState(const std::string &dir)
{
	const fs::path path = Utf8Path(dir);
	if (path.empty() && !dir.empty())
		return FolderState::Unknown;
	std::error_code error;
	const fs::file_status status = fs::status(path, error);
	if (fs::is_directory(status))
		return FolderState::Present;
	if (status.type() == fs::file_type::none || status.type() == fs::file_type::unknown)
		return FolderState::Unknown;
	return FolderState::Gone;
}

SettingsFile ReadSettings(const std::string &config_dir)
{
	SettingsFile settings;
	if (config_dir.empty())
		return settings;
	settings.path = JoinUtf8(config_dir, "steamvr.vrsettings");
	if (settings.path.empty()) {
		settings.path = config_dir + kPathSeparator + "steamvr.vrsettings";
		settings.exists = true;
		settings.error = "is in a folder whose name is not UTF-8";
		return settings;
	}
	std::error_code error;
	const fs::file_status status = fs::status(Utf8Path(settings.path), error);
	settings.exists = fs::exists(status);
	if (!settings.exists)
		return settings;
	if (!fs::is_regular_file(status) || !ReadBytes(settings.path, settings.bytes)) {
		settings.error = "cannot be read as a file of at most 1 MB";
		return settings;
	}
	try {
		settings.value = nlohmann::json::parse(settings.bytes, nullptr, true, true); // SteamVR's reader allows comments
	} catch (const nlohmann::json::parse_error &e) {
		settings.error = "is not JSON: " + ParseErrorText(e);
		return settings;
	}
	if (!settings.value.is_object()) {
		settings.error = "is not a JSON object";
		return settings;
	}
	const auto section = settings.value.find(kDriverSection);
	if (section != settings.value.end() && section->is_object()) {
		const auto blocked = section->find("blocked_by_safe_mode");
		settings.blocked = blocked != section->end() && *blocked == true;
		const auto enable = section->find("enable");
		settings.disabled = enable != section->end() && *enable == false;
	}
	return settings;
}

std::string SteamVrStyle(const nlohmann::json &value)
{
	std::string out;
	Styled(value, "", out);
	return out + "\n";
}

Finding CheckSteamVrSettings(const std::string &config_dir)
{
	const char *check = "steamvr_settings";
	const SettingsFile settings = ReadSettings(config_dir);
	if (settings.path.empty())
		return Make(check, Verdict::Warn, "not checked: the registry names no config folder", "Fix the steamvr check first.");
	const std::string path = Esc(settings.path);
	if (!settings.exists)
		return Make(check, Verdict::Ok, "no " + path + " yet (SteamVR has not run)");
	if (!settings.error.empty())
		return Make(check, Verdict::Fail, path + " " + settings.error,
		            "Correct it at that place, or move it away so that SteamVR writes a new one (its settings are then "
		            "lost); zelvan-ctl doctor --fix never touches it.");
	const std::string fix = "zelvan-ctl doctor --fix with SteamVR closed";
	const std::string where = " in " + std::string(kDriverSection) + " of " + path;
	if (settings.blocked && settings.disabled)
		return Make(check, Verdict::Fail,
		            "SteamVR blocked the driver after a crash and it is turned off in Manage Add-ons "
		            "(\"blocked_by_safe_mode\" : true and \"enable\" : false" + where + ")",
		            "Run " + fix + " (it clears both), and look at the log check for what crashed.");
	if (settings.blocked)
		return Make(check, Verdict::Fail,
		            "SteamVR blocked the driver after a crash (\"blocked_by_safe_mode\" : true" + where + ")",
		            "Run " + fix + ", and look at the log check for what crashed.");
	if (settings.disabled)
		return Make(check, Verdict::Fail, "the driver is turned off in Manage Add-ons (\"enable\" : false" + where + ")",
		            "Turn it on there, or run " + fix + ".");
	return Make(check, Verdict::Ok, path + ": the driver is neither blocked nor turned off");
}

Finding ExamineRegistrations(const RuntimeView &runtime, Finding registered)
{
	std::vector<std::string> copies, keys, missing, unchecked;
	const auto add = [&](const std::string &dir) {
		const std::string key = SameFolderKey(dir);
		for (const std::string &k : keys)
			if (k == key)
				return;
		keys.push_back(key);
		copies.push_back(dir);
	};
	for (const std::string &dir : runtime.external_drivers) {
		const FolderState state = RegisteredFolderState(dir);
		if (state == FolderState::Gone)
			missing.push_back(dir);
		else if (state == FolderState::Unknown)
			unchecked.push_back(dir);
		else if (IsOurDriverFolder(dir))
			add(dir);
	}
	if (!runtime.runtime_dir.empty()) {
		std::vector<std::string> bundled;
		std::error_code error;
		for (fs::directory_iterator it(Utf8Path(JoinUtf8(runtime.runtime_dir, "drivers")), error), end;
		     !error && it != end; it.increment(error)) {
			const std::string dir = Utf8String(it->path());
			if (!dir.empty() && IsOurDriverFolder(dir))
				bundled.push_back(dir);
		}
		std::sort(bundled.begin(), bundled.end());
		for (const std::string &dir : bundled)
			add(dir);
	}
	const auto folders = [](const std::vector<std::string> &dirs) {
		return (dirs.size() == 1 ? "the registered folder " : "the registered folders ") + List(dirs);
	};
	const std::string gone =
		missing.empty() ? std::string() : folders(missing) + (missing.size() == 1 ? " does" : " do") + " not exist";
	// Not "gone": the folder may be there, out of this user's sight.
	const std::string unsure = unchecked.empty() ? std::string() : folders(unchecked) + " cannot be checked";
	const std::string notes = gone + (gone.empty() || unsure.empty() ? "" : "; ") + unsure;
	const std::string look = unsure.empty() ? std::string()
	                                        : " Make sure this user can open what cannot be checked; zelvan-ctl doctor "
	                                          "--fix leaves it registered.";
	if (copies.size() > 1)
		return Make("registered", Verdict::Fail,
		            std::to_string(copies.size()) + " copies of the driver: " + List(copies) +
		                (notes.empty() ? "" : "; " + notes),
		            std::string("Keep one: uninstall the others (") + kInstallScript + " --uninstall, or " + kVrpathregName +
		                " removedriver FOLDER), or run zelvan-ctl doctor --fix with SteamVR closed when the installed "
		                "one is registered." + look);
	if (notes.empty())
		return registered;
	const std::string drop = std::string(kVrpathregName) + " removedriver FOLDER, or zelvan-ctl doctor --fix with "
	                                                       "SteamVR closed";
	if (registered.verdict == Verdict::Fail)
		return Make("registered", Verdict::Fail, registered.found + "; " + notes,
		            registered.remedy + (gone.empty() ? "" : " Remove the folders that are gone with " + drop + ".") +
		                look);
	if (gone.empty())
		return Make("registered", Verdict::Warn, registered.found + "; " + unsure, look.substr(1));
	return Make("registered", Verdict::Warn, registered.found + "; " + gone + " (SteamVR skips it)" +
	                                             (unsure.empty() ? "" : "; " + unsure),
	            "Remove it with " + drop + "." + look);
}

Finding ForeignChannelHolder(const std::string &channel, long uid)
{
	return Make("running", Verdict::Fail,
	            "a program of uid " + std::to_string(uid) + " holds the driver's channel name " + Esc(channel),
	            "Stop that program: the driver takes the channel within 5 s once it is free. Find it with "
	            "ss -xlp | grep zelvan_proximity_ctl (as root to see other users' programs).");
}

} // namespace zelvan::ctl
