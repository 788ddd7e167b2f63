// The file reading shared by both platforms.
#include "ipd/runtime_paths.h"

#include <cstdio>

namespace zelvan {

namespace {

bool ReadFile(const std::string &path, bool text, std::string &content)
{
	std::FILE *file = OpenRegularFile(path, text);
	if (file == nullptr)
		return false;
	content.clear();
	char buffer[4096];
	size_t n = 0;
	while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
		content.append(buffer, n);
		if (content.size() > kMaxRuntimeFileBytes) {
			std::fclose(file);
			content.clear();
			return false;
		}
	}
	std::fclose(file);
	return true;
}

} // namespace

bool ReadTextFile(const std::string &path, std::string &content)
{
	return ReadFile(path, true, content);
}

std::string CalibrationPath(const std::string &config_dir, const std::string &serial)
{
	std::string lower = serial;
	for (char &c : lower)
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
	const std::string sep(1, kPathSeparator);
	return config_dir + sep + "lighthouse" + sep + lower + sep + "config.json";
}

} // namespace zelvan
