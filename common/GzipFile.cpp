#include "common/GzipFile.h"

#include "common/PosixFile.h"
#include "common/SystemErrorText.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <filesystem>
#include <vector>

namespace paxelle {
namespace {

constexpr std::size_t kPiece = 64 * 1024;

// Ends a deflate stream whatever way the compression ends.
class Deflater {
 public:
  Deflater() = default;
  ~Deflater() {
    if (open_) ::deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // gzip framing with the original's name and time in its header.
  bool Open(const std::string& name, std::time_t modified) {
    name_ = name;
    // 15 + 16: the largest window, with a gzip header and trailer.
    open_ = ::deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    if (!open_) return false;
    header_.name = reinterpret_cast<Bytef*>(name_.data());
    header_.time = static_cast<uLong>(modified);
    header_.os = 3;  // Unix
    return ::deflateSetHeader(&stream_, &header_) == Z_OK;
  }

  // Compresses `input` (all of it; `finish` for the last piece) into `output`.
  bool Add(const char* input, std::size_t size, bool finish, std::string& output) {
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
    stream_.avail_in = static_cast<uInt>(size);
    unsigned char buffer[kPiece];
    int result = Z_OK;
    do {
      stream_.next_out = buffer;
      stream_.avail_out = sizeof buffer;
      result = ::deflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR) return false;
      output.append(reinterpret_cast<char*>(buffer), sizeof buffer - stream_.avail_out);
    } while (stream_.avail_out == 0 || (finish && result != Z_STREAM_END));
    return true;
  }

 private:
  z_stream stream_{};
  gz_header header_{};
  std::string name_;
  bool open_ = false;
};

std::string Described(const std::string& what, const std::string& path, int code) {
  return what + " " + path + ": " + SystemErrorText(code);
}

}  // namespace

Status CompressFile(const std::string& source, const std::string& target,
                    const std::function<bool()>& stopRequested) {
  UniqueFd input(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  if (!input.IsValid()) {
    return Status::Failure(errno == ELOOP ? source + " is a symbolic link, which is not followed"
                                          : Described("Cannot open", source, errno));
  }
  struct stat status {};
  if (::fstat(input.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return Status::Failure(source + " is not a regular file");
  }
  // Someone still writing it (a log writer holds the day's file this way).
  if (::flock(input.Get(), LOCK_SH | LOCK_NB) != 0) {
    return Status::Failure(Described("Cannot lock", source, errno));
  }

  const std::filesystem::path targetPath(target);
  std::string temporary =
      (targetPath.parent_path() / ("." + targetPath.filename().string() + ".tmp-XXXXXX")).string();
  UniqueFd output(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!output.IsValid()) {
    return Status::Failure(Described("Cannot create a temporary file for", target, errno));
  }
  auto fail = [&](std::string text) {
    output.Close();
    ::unlink(temporary.c_str());
    return Status::Failure(std::move(text));
  };
  if (::fchmod(output.Get(), status.st_mode & 0666) != 0) return fail(Described("Cannot set the mode of", target, errno));

  Deflater deflater;
  if (!deflater.Open(std::filesystem::path(source).filename().string(), status.st_mtime)) {
    return fail("Cannot start compressing " + source);
  }
  std::vector<char> piece(kPiece);
  std::string compressed;
  for (;;) {
    if (stopRequested && stopRequested()) return fail("Compressing " + source + " was stopped");
    const ssize_t got = ::read(input.Get(), piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(Described("Cannot read", source, errno));
    compressed.clear();
    if (!deflater.Add(piece.data(), static_cast<std::size_t>(got), got == 0, compressed)) {
      return fail("Cannot compress " + source);
    }
    if (!WriteAll(output.Get(), compressed)) return fail(Described("Cannot write", target, errno));
    if (got == 0) break;
  }
  // The copy keeps the day's times, so a listing still shows when it was written.
  const timespec times[2] = {status.st_atim, status.st_mtim};
  ::futimens(output.Get(), times);
  if (::fsync(output.Get()) != 0) return fail(Described("Cannot sync", target, errno));
  if (!output.Close()) return fail(Described("Cannot write", target, errno));
  if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(Described("Cannot rename to", target, errno));
  const std::string directory = targetPath.parent_path().string();
  SyncDirectory(directory);
  // The copy is durable: the original may go.
  if (::unlink(source.c_str()) != 0) {
    return Status::Failure(Described("Cannot remove", source, errno));
  }
  SyncDirectory(directory);
  return Status::Ok();
}

}  // namespace paxelle
