#include "common/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/output.h"

namespace mevrik {
namespace {

// A record is a few lines; anything longer is not one of ours.
constexpr size_t kLargestRecord = 1 << 20;

// The folder, made when missing; none when it is not a private folder of this user (a symbolic
// link, someone else's, open to others), since a record there could be read or planted.
std::optional<std::string> privateFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || runtime[0] != '/') return std::nullopt;
  std::string folder = std::string(runtime) + "/mevrik";
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & 077) != 0)
    return std::nullopt;
  return folder;
}

}  // namespace

std::unique_ptr<FileJournal> FileJournal::open(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') return nullptr;
  auto folder = privateFolder();
  if (!folder) return nullptr;
  const std::string path = *folder + "/" + name;
  const int lock =
      ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock < 0) return nullptr;
  while (::flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(lock);
      return nullptr;
    }
  }
  return std::unique_ptr<FileJournal>(new FileJournal(path, lock));
}

FileJournal::~FileJournal() {
  ::close(lock_);  // and with it the lock
}

std::optional<std::string> FileJournal::read() {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kLargestRecord) break;
  }
  ::close(fd);
  return text;
}

bool FileJournal::write(const std::string& text) {
  // Only this run writes it (it holds the lock), so the temporary name can be fixed.
  const std::string temporary = path_ + ".new";
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = writeAll(fd, text);
  if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path_.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void FileJournal::remove() {
  ::unlink(path_.c_str());
}

}  // namespace mevrik
