#include "mcp/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace mcp {
namespace {

// More than any tool prints; a child that goes beyond it is cut off rather than filling memory.
constexpr size_t kOutputCap = 64 * 1024 * 1024;

struct Pipe {
  int read = -1;
  int write = -1;
  bool open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    return true;
  }
  ~Pipe() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
  }
};

}  // namespace

ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     double timeoutSeconds) {
  ChildResult result;
  Pipe out, err;
  if (!out.open() || !err.open()) {
    result.startError = std::strerror(errno);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write, 1);
  posix_spawn_file_actions_adddup2(&actions, err.write, 2);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    result.startError = std::strerror(rc);
    return result;
  }
  result.started = true;
  ::close(out.write);
  ::close(err.write);
  out.write = err.write = -1;

  // The child's exit is watched through a process descriptor beside the two pipes, so that a
  // child which hands its outputs to a process of its own is still seen to end, and the wait
  // needs no sleeping.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  using Clock = std::chrono::steady_clock;
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(timeoutSeconds > 0 ? timeoutSeconds : 0));
  pollfd fds[3] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}, {pidfd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  bool exited = false;
  char buffer[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 && !exited) {
      result.timedOut = true;
      break;
    }
    // Once the child has ended, only what is already in the pipes is read.
    const int ready = ::poll(fds, 3, exited ? 0 : static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    if (ready == 0 && exited) break;
    if (fds[2].fd >= 0 && fds[2].revents != 0) {
      exited = true;
      fds[2].fd = -1;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        if (sinks[k]->size() < kOutputCap) sinks[k]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[k].fd = -1;  // end of file (or a broken pipe): stop polling it
      }
    }
  }
  if (!exited && !result.timedOut) {
    // Both outputs closed: the child is ending; wait for it within the deadline.
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd exitFd = {pidfd, POLLIN, 0};
    if (pidfd >= 0 && (left <= 0 || ::poll(&exitFd, 1, static_cast<int>(left)) == 0)) {
      result.timedOut = true;
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  if (result.timedOut) ::kill(pid, SIGKILL);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wstatus)) {
    result.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    result.signal = WTERMSIG(wstatus);
  }
  return result;
}

}  // namespace mcp
