// The folder for IPD persistence's two temporary files, made and used so
// that no other local user can redirect them to a file of the wearer's.
#pragma once

#include <cstdint>
#include <string>

namespace zelvan {

enum class TempRead {
	Ok,
	Unreadable, // absent, not a regular file of this user's, a link, or too big
};

enum class TempWrite {
	Ok,
	NotCreated, // the name was taken (by a link too) or the folder is gone
	NotWritten,
};

class TempFolder {
public:
	TempFolder() = default;
	// Removes the folder when it was made here (its files must be deleted first).
	~TempFolder();
	TempFolder(const TempFolder &) = delete;
	TempFolder &operator=(const TempFolder &) = delete;

	// POSIX: a new private (0700) folder under $TMPDIR, else /tmp, held open
	// so that every file operation goes through it even if its name is
	// later moved. Windows: GetTempPathW's folder, private to the user, in
	// its short form when its name is not ASCII.
	// False when none can be had.
	bool Make();

	// For the log, after Make: the folder used and why when it is not the
	// first choice, or where and why Make failed; empty otherwise.
	const std::string &Note() const { return note_; }

	// A file's full path, as the console tool is given it.
	std::string PathOf(const std::string &name) const;

	// The path still names the folder that Make made: nobody moved it aside
	// and put something else in its place, which the tool would then use.
	bool StillInPlace() const;

	// Anything of that name, a link included.
	bool Exists(const std::string &name) const;
	// The whole file, byte for byte; never through a link.
	TempRead Read(const std::string &name, std::string &content) const;
	// A new file that nothing of that name may already occupy.
	TempWrite Create(const std::string &name, const std::string &text) const;
	// A missing file is no error.
	void Delete(const std::string &name) const;

private:
	// POSIX: a new folder in `parent`; false with the reason in `error`.
	bool MakeIn(const std::string &parent, std::string &error);

	std::string path_; // ends in the separator
	std::string note_;
	int fd_ = -1;      // POSIX: the folder, held open
	uint64_t device_ = 0, inode_ = 0;
};

} // namespace zelvan
