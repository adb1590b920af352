// The server's own folder for files the tools write for it (screenshots): made on first use with
// mkdtemp under TMPDIR (or /tmp), so 0700 and unguessable, and removed with everything in it when
// the server ends.
#pragma once

#include <string>

namespace mcp {

class ScratchFolder {
 public:
  ScratchFolder() = default;
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() { remove(); }

  // The folder's absolute path, made on the first call; empty when no folder could be made.
  const std::string& path();
  // Removes the folder and its files; a later path() makes a new one.
  void remove();

 private:
  std::string path_;
};

}  // namespace mcp
