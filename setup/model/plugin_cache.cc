#include "setup/model/plugin_cache.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

namespace setup {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool isFolder(const std::string& path, const dirent& entry) {
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_UNKNOWN) return false;
  // Some file systems do not report the type in the entry; ask without following a link.
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool containsEntryNamed(const std::string& root, std::string_view name) {
  // Depth-first with an explicit stack of folders still to read, so depth costs no C++ stack.
  std::vector<std::string> pending{root};
  while (!pending.empty()) {
    const std::string folder = std::move(pending.back());
    pending.pop_back();
    DirHandle dir(opendir(folder.c_str()));
    if (!dir) continue;  // unreadable or gone meanwhile: go on with the rest
    while (const dirent* entry = readdir(dir.get())) {
      const std::string_view entryName(entry->d_name);
      if (entryName == "." || entryName == "..") continue;
      if (entryName == name) return true;
      std::string path = folder;
      path += '/';
      path += entryName;
      if (isFolder(path, *entry)) pending.push_back(std::move(path));
    }
  }
  return false;
}

}  // namespace setup
