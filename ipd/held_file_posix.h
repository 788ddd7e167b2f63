#pragma once

#include <string>

#include "ipd/temp_folder.h"

namespace zelvan {

// Reads a whole regular file by name from a folder held open, without
// following a link or waiting on a FIFO; must_be_ours also refuses a file
// of another user. Past the runtime file size cap the read fails.
TempRead ReadHeldFile(int folder_fd, const std::string &name, std::string &content, bool must_be_ours);

} // namespace zelvan
