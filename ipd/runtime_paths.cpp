// The file reading shared by both platforms.
#include "ipd/runtime_paths.h"

#include <cstdio>

namespace zelvan {

namespace {

// The runtime's files are kilobytes; a path naming a device or a huge file
// must not stall the frame or exhaust memory.
constexpr size_t kMaxFileBytes = 16u << 20;

bool ReadFile(const std::string &path, const char *mode, std::string &content)
{
	std::FILE *file = std::fopen(path.c_str(), mode);
	if (file == nullptr)
		return false;
	content.clear();
	char buffer[4096];
	size_t n = 0;
	while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
		content.append(buffer, n);
		if (content.size() > kMaxFileBytes) {
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
	return ReadFile(path, "r", content);
}

bool ReadBinaryFile(const std::string &path, std::string &content)
{
	return ReadFile(path, "rb", content);
}

} // namespace zelvan
