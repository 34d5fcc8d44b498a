#pragma once

#include <ostream>
#include <string>
#include <vector>

// `rucktag serve --folder DIR --listen ADDRESS:PORT [--database URL]
// [--allow-root]`: the publish folder's group pages and videos over HTTP
// until SIGINT or SIGTERM; with a library, only the playlists it still has. `args` are the words
// after "serve". Returns 0 stopped by a signal, 1 could not serve (no such folder, the address
// taken, run as root, the library out of reach), 2 bad usage. The address and port served are said
// on `out` (port 0 takes any free port), each request is logged to stderr.
int runServeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// "127.0.0.1:8080", "[::1]:8080", ":8080" (every address); false when it is
// none of these.
bool splitListen(const std::string& text, std::string& host, int& port);
