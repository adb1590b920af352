// The double fork: the program is the grandchild, in a session of its own, so it never becomes
// our child to reap, never takes a terminal as its controlling one, and outlives us untouched.
// A close-on-exec pipe brings back the grandchild's pid (from the child) and, when exec fails,
// its errno (from the grandchild); the pipe reads end of file once the child has exited and the
// grandchild has run the program.
#include "win/launch-posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "win/win.h"

namespace win::posix {
namespace {

struct Message {
  int32_t kind;  // kPid or kErrno
  int32_t value;
};
constexpr int32_t kPid = 1;
constexpr int32_t kErrno = 2;

// Largest desktop file read; real ones are a few kilobytes.
constexpr std::streamsize kLargestEntry = 1 << 20;

void send(int fd, int32_t kind, int32_t value) {
  const Message message{kind, value};
  // A pipe write this small is atomic; nothing can be done in the child if it fails.
  [[maybe_unused]] ssize_t written = write(fd, &message, sizeof message);
}

// Runs in the grandchild: a clean process state, then the program.
[[noreturn]] void execute(const std::vector<std::string>& argv, const std::string& directory,
                          int reportFd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
  }
  // Every other descriptor closes when the program starts (the report pipe among them).
  const long most = sysconf(_SC_OPEN_MAX);
  for (int fd = 3; fd < (most > 0 && most < 65536 ? most : 65536); ++fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  if (!directory.empty() && chdir(directory.c_str()) != 0) {
    // Starting elsewhere than asked is still better than not starting.
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  send(reportFd, kErrno, errno);
  _exit(127);
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A desktop file id names the file's path under an applications folder with '/' written as '-':
// "kde-konsole.desktop" may be kde/konsole.desktop.
std::string findUnder(const std::string& folder, const std::string& name) {
  if (isFile(folder + "/" + name)) return folder + "/" + name;
  for (size_t dash = name.find('-'); dash != std::string::npos; dash = name.find('-', dash + 1)) {
    const std::string sub = folder + "/" + name.substr(0, dash);
    if (!isDirectory(sub)) continue;
    if (auto found = findUnder(sub, name.substr(dash + 1)); !found.empty()) return found;
  }
  return {};
}

std::vector<std::string> applicationFolders() {
  std::vector<std::string> folders;
  const char* home = std::getenv("HOME");
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && *dataHome) {
    folders.push_back(dataHome);
  } else if (home && *home) {
    folders.push_back(std::string(home) + "/.local/share");
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::stringstream list((dirs && *dirs) ? dirs : "/usr/local/share:/usr/share");
  for (std::string dir; std::getline(list, dir, ':');) {
    if (!dir.empty()) folders.push_back(dir);
  }
  for (auto& f : folders) f += "/applications";
  return folders;
}

}  // namespace

Launched spawnDetached(const std::vector<std::string>& argv, const std::string& directory) {
  Launched result;
  int fds[2];
  // The tool has one thread: no fork elsewhere can slip in before close-on-exec is set.
  if (pipe(fds) != 0 || fcntl(fds[0], F_SETFD, FD_CLOEXEC) != 0 ||
      fcntl(fds[1], F_SETFD, FD_CLOEXEC) != 0) {
    result.error = std::string("cannot start \"") + argv[0] + "\": " + std::strerror(errno);
    return result;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) execute(argv, directory, fds[1]);
    send(fds[1], grandchild > 0 ? kPid : kErrno, grandchild > 0 ? grandchild : errno);
    _exit(0);
  }
  close(fds[1]);
  int forkError = child < 0 ? errno : 0;
  if (child > 0) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  int32_t pid = 0;
  int execError = 0;
  Message message{};
  for (;;) {
    const ssize_t n = ::read(fds[0], &message, sizeof message);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof message)) break;
    if (message.kind == kPid) pid = message.value;
    if (message.kind == kErrno) execError = message.value;
  }
  close(fds[0]);
  if (forkError || execError || pid <= 0) {
    const int code = forkError ? forkError : execError ? execError : EAGAIN;
    result.error = std::string("cannot start \"") + argv[0] + "\": " + std::strerror(code);
    return result;
  }
  result.pid = pid;
  return result;
}

Launched launchDesktopEntry(const std::string& id) {
  std::string path;
  if (id.find('/') != std::string::npos) {
    if (isFile(id)) path = id;
  } else {
    const std::string name = id.ends_with(".desktop") ? id : id + ".desktop";
    for (const auto& folder : applicationFolders()) {
      path = findUnder(folder, name);
      if (!path.empty()) break;
    }
  }
  Launched result;
  if (path.empty()) {
    result.unknownId = true;
    result.error = "no desktop entry \"" + id + "\" in the applications folders";
    return result;
  }
  std::ifstream file(path, std::ios::binary);
  std::string content(static_cast<size_t>(kLargestEntry), '\0');
  file.read(content.data(), kLargestEntry);
  content.resize(static_cast<size_t>(file.gcount()));
  std::string error;
  auto argv = desktopEntryCommand(content, path, error);
  if (!argv) {
    result.error = error;
    return result;
  }
  const char* home = std::getenv("HOME");
  return spawnDetached(*argv, home ? home : "");
}

bool running(int32_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  // Without /proc (macOS) a process that ended has been reaped by launchd, its new parent.
  if (!stat) return kill(pid, 0) == 0 || errno == EPERM;
  if (!std::getline(stat, text)) return false;
  // "PID (COMMAND) STATE ...": the command may hold spaces and parentheses.
  const size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return false;
  const char state = text[close + 2];
  return state != 'Z' && state != 'X';
}

}  // namespace win::posix

namespace win {

uint64_t PosixPlatform::activeWindow() {
  std::string error;
  const std::optional<Desktop> desktop = read(error);
  if (!desktop) return 0;
  const auto w = std::find_if(desktop->windows.begin(), desktop->windows.end(),
                              [](const Window& w) { return w.focused; });
  return w == desktop->windows.end() ? 0 : w->id;
}

bool PosixPlatform::exists(uint64_t id) {
  std::string error;
  const std::optional<Desktop> desktop = read(error);
  return desktop && std::any_of(desktop->windows.begin(), desktop->windows.end(),
                                [id](const Window& w) { return w.id == id; });
}

Launched PosixPlatform::launchApplication(const std::string& id) {
  watch();
  return posix::launchDesktopEntry(id);
}

Launched PosixPlatform::launchCommand(const std::vector<std::string>& argv) {
  watch();
  return posix::spawnDetached(argv, "");
}

bool PosixPlatform::running(int32_t pid) {
  return posix::running(pid);
}

double PosixPlatform::now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

Window recordOf(const mevrik::desktop::Window& w) {
  Window out;
  out.id = static_cast<uint64_t>(w.id);
  out.app = w.appId;
  out.pid = w.pid;
  out.title = w.title;
  out.x = w.frame.x;
  out.y = w.frame.y;
  out.w = w.frame.width;
  out.h = w.frame.height;
  out.focused = w.focused;
  out.minimized = w.putAway;
  out.desktop = w.workspace;
  out.shown = w.visible;
  return out;
}

}  // namespace win
