// The file reading shared by both platforms.
#include "ipd/runtime_paths.h"

#include <cstdio>

namespace zelvan {

bool ReadTextFile(const std::string &path, std::string &content)
{
	std::FILE *file = std::fopen(path.c_str(), "r");
	if (file == nullptr)
		return false;
	content.clear();
	char buffer[4096];
	size_t n = 0;
	while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
		content.append(buffer, n);
	std::fclose(file);
	return true;
}

} // namespace zelvan
