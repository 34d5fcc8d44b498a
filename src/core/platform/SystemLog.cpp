#include "platform/SystemLog.h"

#include <cstdio>
#include <string>

namespace {
LogSink& currentSink() {
    static LogSink sink;
    return sink;
}
} // namespace

void systemLog(std::string_view line) {
    if (const LogSink& sink = currentSink()) {
        sink(line);
        return;
    }
    std::string text(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
}

LogSink setSystemLogSink(LogSink sink) {
    LogSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}
