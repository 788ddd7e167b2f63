// The panel's page, embedded in zelvan-ctl from tools/zelvan_ctl/panel/page/
// by cmake/EmbedFiles.cmake.
#pragma once

#include <cstddef>

namespace zelvan::ctl {

struct PageFile {
	const char *path; // "/index.html"
	const char *type; // its Content-Type
	const unsigned char *data;
	size_t size;
};

extern const PageFile kPageFiles[];
extern const size_t kPageFileCount;

} // namespace zelvan::ctl
