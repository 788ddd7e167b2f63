// A file made for a new recording: created only where nothing is, in one
// step, so that a file or link that appears at the name after any check is
// neither followed nor truncated.
#pragma once

#include <cstdio>
#include <filesystem>

namespace zelvan::ctl {

// A new, empty file at `path`, open for writing bytes; nullptr with errno
// set when it cannot be made (EEXIST: something is already at the name,
// a link or a folder too).
std::FILE *CreateNewFile(const std::filesystem::path &path);

} // namespace zelvan::ctl
