// O_CREAT with O_EXCL: the kernel creates the file or fails, and never
// follows a link at the name.
#include "tools/zelvan_ctl/channel/new_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zelvan::ctl {

std::FILE *CreateNewFile(const std::filesystem::path &path)
{
	const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
	if (fd < 0)
		return nullptr;
	std::FILE *file = fdopen(fd, "wb");
	if (file == nullptr) {
		const int error = errno;
		close(fd);
		errno = error;
	}
	return file;
}

} // namespace zelvan::ctl
