// Compression of a finished file into gzip format, crash-safely: what a crash
// leaves is the original, or the original and its complete copy.
#pragma once

#include "common/Status.h"

#include <functional>
#include <string>

namespace paxelle {

// Compresses the regular file `source` into `target` (gzip, readable by zcat):
// a temporary beside `target` is written, synced, given the source's mode and
// times and renamed over `target`; only then is `source` removed. A symbolic
// link, a file another process holds locked (flock) or anything but a regular
// file is left alone. `stopRequested`, asked between pieces, abandons the
// work (nothing changed). A failure says why it was not done.
Status CompressFile(const std::string& source, const std::string& target,
                  const std::function<bool()>& stopRequested = {});

}  // namespace paxelle
