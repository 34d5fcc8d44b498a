#pragma once

// The journal's files: names, the owner lock, left-overs set aside, the
// damaged and discarded folders (internal to the journal; callers use
// TagJournal.h).

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace journal {

// Absolute and lexically normal, as the previous release named journals.
std::string lexicalVideoPath(const std::string& videoPath);
// The journal file's name for a video known by `full`.
std::filesystem::path journalPathOf(const std::string& full);
// A journal naming `named` is one of the video asked about.
bool sameVideo(const std::string& named, const std::string& asked);

bool isRegular(const std::filesystem::path& file);
// Moves `file` to `folder` (made when missing) under its own name, or with
// -2, -3, ... before its extension when that is taken. Never replaces a file.
// Returns an empty text, or the reason.
std::string moveInto(const std::filesystem::path& file, const std::filesystem::path& folder,
                     bool touch);
// Moves `file` into the discarded `folder` and prunes what is old there;
// a failure goes to the system log.
void moveToDiscarded(const std::filesystem::path& file, const std::filesystem::path& folder);

// Sets a journal left at the video's own name aside, so this run's journal
// never writes over it.
void setAside(const std::filesystem::path& file);
// The journals of `file` set aside, and `legacy` (the name of an older
// version), that are not `answered`: newest first.
std::vector<std::filesystem::path>
leftoverCandidates(const std::filesystem::path& file, const std::filesystem::path& legacy,
                   const std::set<std::filesystem::path>& answered);

std::filesystem::path lockPathOf(const std::filesystem::path& file);
// Takes the lock file `lock` for this process. False when another live
// process, or another claim of this one, holds it. `fd` is the lock's
// descriptor, or -1 when it cannot be locked (the journal is unguarded).
bool claimLock(const std::filesystem::path& lock, int& fd);
void releaseLock(const std::filesystem::path& lock, int fd);
// Another live process holds `lock` (a probe: takes nothing).
bool lockHeldElsewhere(const std::filesystem::path& lock);

} // namespace journal
