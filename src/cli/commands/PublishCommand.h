#pragma once

#include <ostream>
#include <string>
#include <vector>

// `rucktag publish NAME --group GROUP --folder DIR [--max-height H]
// [--bitrate KBPS] [--database URL]`: the playlist's items rendered into the
// publish folder, the group's link path (/g/TOKEN/) printed last; and
// `rucktag publish --revoke GROUP --folder DIR`: a new token for the group,
// its new link path printed. `args` are the words after "publish"; a
// QCoreApplication must exist. Progress goes to `err`. Ctrl+C stops a
// publish and leaves the folder as it was. Returns 0 done, 1 failed or
// stopped, 2 bad usage.
int runPublishCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
