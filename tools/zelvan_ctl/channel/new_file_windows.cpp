// _O_CREAT with _O_EXCL through the wide name: CreateFileW's CREATE_NEW,
// which fails on anything at the name, a link or junction too.
#include "tools/zelvan_ctl/channel/new_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

namespace zelvan::ctl {

std::FILE *CreateNewFile(const std::filesystem::path &path)
{
	const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
	if (fd < 0)
		return nullptr;
	std::FILE *file = _fdopen(fd, "wb");
	if (file == nullptr) {
		const int error = errno;
		_close(fd);
		errno = error;
	}
	return file;
}

} // namespace zelvan::ctl
