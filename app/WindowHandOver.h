// How `paxelle` without --headless becomes the operator window: the window is
// its own executable, `paxelle-window`, so that a server without a display
// never loads a GUI stack.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace paxelle {

inline constexpr char kWindowProgramName[] = "paxelle-window";

// The directory of the running executable, or empty when it cannot be told.
std::filesystem::path OwnDirectory();

// Replaces this process with `directory`/paxelle-window given `args` (the
// arguments after the program name, unchanged). Returns only when that cannot
// be done: then `err` has been told why and how to get the window or run
// without it, and the result is the exit code (2, as for a bad command line).
// The window is looked for beside the server only, never on PATH: a window of
// another version must not serve this one's files.
int HandOverToWindow(const std::filesystem::path& directory, const std::vector<std::string>& args,
                     std::ostream& err);

}  // namespace paxelle
