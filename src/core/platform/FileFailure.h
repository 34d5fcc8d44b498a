#pragma once

#include <filesystem>
#include <string>

// Why a file or folder could not be made or written (an errno value), in the
// user's words and with the place it is about, the system's own words after
// them: 「/a/b」に書き込む権限がありません（Permission denied）. `made` is the
// file or folder that was being made or written; the place named is the one
// the failure is about (the folder it goes in, the folder that is missing, the
// file standing where a folder should be).
std::string fileFailureReason(int err, const std::filesystem::path& made);

// Whether `err` (an errno value) is a failure of the file system (a full disk,
// no permission, a read-only place) rather than of the program writing.
bool isFileSystemError(int err);
