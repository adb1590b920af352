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

using Clock = std::chrono::steady_clock;

Clock::time_point after(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(seconds > 0 ? seconds : 0));
}

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
                     double budgetSeconds, double graceSeconds, const StopSignals& signals) {
  ChildResult result;
  Pipe out, err;
  if (!out.open() || !err.open()) {
    result.startErrno = errno;
    result.startError = std::strerror(errno);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write, 1);
  posix_spawn_file_actions_adddup2(&actions, err.write, 2);
  // Descriptors the client left open without close-on-exec are not the tool's business.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // The server ignores SIGPIPE and may block its stop signals; the tool starts afresh.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, reset;
  sigemptyset(&none);
  sigemptyset(&reset);
  for (int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&reset, number);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &reset);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    result.startErrno = rc;
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
  auto deadline = after(budgetSeconds);
  // Past the budget the child gets SIGTERM and a grace to end; past the grace, SIGKILL.
  const auto stop = [&] {
    if (result.timedOut) return;
    result.timedOut = true;
    ::kill(pid, SIGTERM);
    deadline = after(graceSeconds);
  };
  pollfd fds[3] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}, {pidfd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  bool exited = false;
  char buffer[65536];
  // Without a process descriptor (a kernel before 5.3) the pipes' end stands for the exit.
  while (fds[0].fd >= 0 || fds[1].fd >= 0 || (pidfd >= 0 && !exited)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 && !exited) {
      if (result.timedOut) {
        result.killed = true;
        ::kill(pid, SIGKILL);
        break;
      }
      stop();
      continue;
    }
    // Once the child has ended, only what is already in the pipes is read.
    const long wait = exited ? 0 : left;
    const timespec timeout = {static_cast<time_t>(wait / 1000), (wait % 1000) * 1000000};
    const int ready = ::ppoll(fds, 3, &timeout, signals.waitMask);
    if (ready < 0) {
      if (errno != EINTR) break;
      if (signals.stopRequested && signals.stopRequested()) stop();
      continue;
    }
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
  if (pidfd >= 0) ::close(pidfd);
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
