#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>
#include <vector>

// The errno-like code for a path that holds something other than a regular
// file or a folder: a FIFO, a device, a socket. Reading one could wait forever
// (a FIFO) or never end (/dev/zero), and writing over one would replace it.
// Above every errno value.
inline constexpr int kNotRegularFile = 0x10000;

// The text of an errno value, or of kNotRegularFile.
std::string fileErrorText(int err);

// Reads a whole regular file. Returns false (and the reason in `error`, the
// errno value or kNotRegularFile in `errorCode` when given) when it cannot be
// opened or read, when the path is a folder (EISDIR) or anything else that is
// not a regular file (kNotRegularFile; never opened in a way that could wait).
// With `progress`, the file is read a piece at a time and `progress` is told
// the bytes read so far and the file's size after each; it returns false to
// stop, and the read then fails with ECANCELED.
bool readWholeFile(const std::filesystem::path& path, std::string& contents, std::string& error,
                   int* errorCode = nullptr,
                   const std::function<bool(size_t read, size_t size)>& progress = {});

// Replaces the file at `target` with `contents` so that a reader, or a crash
// at any moment, sees either the old file whole or the new one whole: the text
// goes to a temporary file in the same folder, is flushed to disk, and is then
// renamed over the target. An existing target keeps its permissions and,
// where the process may give them (root, or the file's owner), its owner and
// group. A symbolic link is written through: its final target is replaced
// (the temporary file goes beside it) and the link stays. A folder or any
// other file that is not a regular file is refused, never replaced.
// Returns an empty text on success, else the reason; on failure the target is
// as it was and no temporary file is left.
// Temporary files of earlier writes to the same target that were cut short (a
// killed process) are removed first; one that a live writer holds is kept.
std::string writeFileAtomically(const std::filesystem::path& target, std::string_view contents);

// Removes the temporary files that writes to `target` left behind when they
// were cut short; returns how many. Each writer holds a lock on its temporary
// file until it is renamed, so a file still being written is never touched.
int removeStaleTemporaries(const std::filesystem::path& target);

// The same for every target in `folder` whose file name `isOurs` accepts (it
// is given the name as the temporary file carries it, which is cut short for
// long names; see temporaryFor).
int removeStaleTemporaries(const std::filesystem::path& folder,
                           const std::function<bool(std::string_view name)>& isOurs);

// Creates the temporary file of a write to `target`, beside it:
// ".NAME.XXXXXX", NAME cut short at a character boundary when the whole would
// pass the file system's name limit. The file is private (0600) and locked
// (flock) so that no clean-up takes it; the lock lasts as long as the
// returned descriptor is open, so close it only after the file is renamed or
// removed. Returns the descriptor and the file's path in `temp`, or -1 with
// errno set.
int createLockedTemporary(const std::filesystem::path& target, std::string& temp);

// Whether `a` and `b` name the same file: the same path once links and ".."
// are resolved (the file need not exist), or the same existing file under
// two names (a hard link, a bind mount).
bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The longest file name, in bytes, that the file system of `folder` (or, if
// it is yet to be made, of the nearest folder above it) takes; NAME_MAX where
// it does not say.
size_t fileNameLimit(const std::filesystem::path& folder);

// The process's file-mode creation mask, read without changing it (setting it
// to read it would open a moment in which other threads create files with the
// wrong mode).
mode_t processUmask();

// Keeps the file at `file` under a new name beside it, `NAME.damaged-YYYYmmdd-
// HHMMSS` (then -2, -3, ... if taken; an existing file is never replaced). The
// file itself stays where it is, so a later atomic write over `file` leaves the
// kept copy whole. Returns an empty text and the new path in `kept`, else the
// reason.
std::string keepDamagedCopy(const std::filesystem::path& file, std::string& kept);

// The `.json` files of `folder`, sorted by path, leaving out hidden ones (the
// temporaries of writes under way). `ec` tells a folder that could not be read.
std::vector<std::filesystem::path> jsonFilesIn(const std::filesystem::path& folder,
                                               std::error_code& ec);
