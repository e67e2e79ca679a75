#include "app/WindowHandOver.h"

#include "common/SystemErrorText.h"

#include <unistd.h>

#include <cerrno>

namespace paxelle {

std::filesystem::path OwnDirectory() {
  std::error_code failure;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
  if (failure) return {};
  return self.parent_path();
}

int HandOverToWindow(const std::filesystem::path& directory, const std::vector<std::string>& args,
                     std::ostream& err) {
  const std::filesystem::path window = directory / kWindowProgramName;
  std::vector<std::string> argv = {kWindowProgramName};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  // Whatever was written so far must not be lost with this process image.
  err.flush();
  if (!directory.empty()) ::execv(window.c_str(), pointers.data());
  const int code = directory.empty() ? ENOENT : errno;
  if (code == ENOENT) {
    err << "paxelle: the operator window (" << window.string()
        << ") is not installed: install the package paxelle-window for it,\n"
           "or run the server without a window: paxelle --headless ...\n";
  } else {
    err << "paxelle: cannot start the operator window " << window.string() << ": " << SystemErrorText(code)
        << "\nRun the server without a window with paxelle --headless ...\n";
  }
  return 2;
}

}  // namespace paxelle
