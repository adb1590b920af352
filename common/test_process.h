// For tests: runs a program as a child process and gives back what a caller of the tools sees,
// its standard output, its standard error and its exit status.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace mevrik {

struct ProcessResult {
  std::string out;
  std::string err;
  int status = -1;  // the exit status; 128 + the signal when one ended it; -1 when it never ran
};

// Runs argv[0] (a path) with argv, standard input closed to /dev/null, and waits for it.
inline ProcessResult runProcess(std::vector<std::string> argv) {
  ProcessResult result;
  // Files rather than pipes: the child can write any amount to both without a reader keeping up.
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (!out || !err || argv.empty()) {
    if (out) std::fclose(out);
    if (err) std::fclose(err);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  for (auto [file, text] : {std::pair{out, &result.out}, std::pair{err, &result.err}}) {
    std::rewind(file);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text->append(buffer, n);
    std::fclose(file);
  }
  return result;
}

}  // namespace mevrik
