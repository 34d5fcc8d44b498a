#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

// Reads a whole file. Returns false (and the reason in `error`, the errno value
// in `errorCode` when given) when it cannot be opened or read, including when
// the path is a folder.
bool readWholeFile(const std::filesystem::path& path, std::string& contents, std::string& error,
                   int* errorCode = nullptr);

// Replaces the file at `target` with `contents` so that a reader, or a crash
// at any moment, sees either the old file whole or the new one whole: the text
// goes to a temporary file in the same folder, is flushed to disk, and is then
// renamed over the target. An existing target keeps its permissions.
// Returns an empty text on success, else the reason; on failure the target is
// as it was and no temporary file is left.
// Temporary files of earlier writes to the same target that were cut short (a
// killed process) are removed first; one that a live writer holds is kept.
std::string writeFileAtomically(const std::filesystem::path& target, std::string_view contents);

// Removes the temporary files that writes to `target` left behind when they
// were cut short; returns how many. Each writer holds a lock on its temporary
// file until it is renamed, so a file still being written is never touched.
int removeStaleTemporaries(const std::filesystem::path& target);

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
