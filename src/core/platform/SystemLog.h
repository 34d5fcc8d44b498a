#pragma once

#include <functional>
#include <string_view>

// The one place errors that are not shown to the user go. Writes a line to
// standard error unless a sink is installed (the application hands it to Qt's
// message handler as warnings of the category "rucktag"; tests capture it).
void systemLog(std::string_view line);

using LogSink = std::function<void(std::string_view)>;
// Installs `sink` (empty restores standard error); returns the previous one.
LogSink setSystemLogSink(LogSink sink);
