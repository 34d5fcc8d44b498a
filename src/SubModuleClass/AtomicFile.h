#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Reads a whole file. Returns false (and the reason in `error`) when it cannot
// be opened or read, including when the path is a folder.
bool readWholeFile(const std::filesystem::path& path, std::string& contents, std::string& error);

// Replaces the file at `target` with `contents` so that a reader, or a crash
// at any moment, sees either the old file whole or the new one whole: the text
// goes to a temporary file in the same folder, is flushed to disk, and is then
// renamed over the target. An existing target keeps its permissions.
// Returns an empty text on success, else the reason; on failure the target is
// as it was and no temporary file is left.
std::string writeFileAtomically(const std::filesystem::path& target, std::string_view contents);
