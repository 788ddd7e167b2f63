// Paths from the program's UTF-8 text and back. A std::filesystem::path
// made from a plain std::string reads it in the ANSI code page on Windows,
// so every conversion goes through char8_t; on POSIX the bytes stay as they
// are.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zelvan::ctl {

// An empty path when the text is not UTF-8 (Windows only): such a name
// cannot be opened, and a guess at it could name another file.
std::filesystem::path Utf8Path(std::string_view utf8);

// Empty when the name does not convert (Windows: an unpaired surrogate),
// so that it is skipped rather than shown or used as something else.
std::string Utf8String(const std::filesystem::path &path);

// `dir` and `name` joined by the platform's separator; empty when `dir` is
// not a usable name (an empty `dir` gives `name`, as the path would).
std::string JoinUtf8(const std::string &dir, const std::string &name);

} // namespace zelvan::ctl
