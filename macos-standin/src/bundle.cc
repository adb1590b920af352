// The stand-in's main bundle and application preferences, kept in the world.
#include <cstring>

#include "runtime.h"

namespace standin {
namespace {

// Sets, replaces (null: removes) one key of a key-value list.
void put(std::vector<std::pair<std::string, CFTypeRef>>& values, const std::string& key,
         CFTypeRef value) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (it->first == key) {
      CFRelease(it->second);
      values.erase(it);
      break;
    }
  }
  if (value) values.emplace_back(key, CFRetain(value));
}

CFTypeRef get(const std::vector<std::pair<std::string, CFTypeRef>>& values,
              const std::string& key) {
  for (const auto& [k, v] : values) {
    if (k == key) return v;
  }
  return nullptr;
}

}  // namespace

void releaseAll(std::vector<std::pair<std::string, CFTypeRef>>& values) {
  for (auto& entry : values) CFRelease(entry.second);
  values.clear();
}

void setInfoValue(const std::string& key, CFTypeRef value) {
  put(world().info, key, value);
}
void setResourcesFolder(std::optional<std::string> path) {
  world().resources = std::move(path);
}
CFPropertyListRef preference(const std::string& key) {
  return get(world().preferences, key);
}
int preferenceSynchronizations() {
  return world().synchronizations;
}

}  // namespace standin

struct __CFBundle : standin::Object {
  __CFBundle() : Object(standin::kBundleType, false) {}
};

extern "C" {

const CFStringRef kCFPreferencesCurrentApplication = CFSTR("kCFPreferencesCurrentApplication");

CFBundleRef CFBundleGetMainBundle(void) {
  static auto* bundle = new __CFBundle;
  return bundle;
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef, CFStringRef key) {
  return standin::get(standin::world().info, standin::toUtf8(key));
}

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef) {
  if (!standin::world().resources) return nullptr;
  CFStringRef path = standin::makeString("file://" + *standin::world().resources);
  CFURLRef url = CFURLCreateWithString(nullptr, path, nullptr);
  CFRelease(path);
  return url;
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8* buffer, CFIndex maxBufLen) {
  std::string path = standin::toUtf8(CFURLGetString(url));
  if (path.rfind("file://", 0) != 0) return false;
  path.erase(0, 7);
  if (static_cast<CFIndex>(path.size()) + 1 > maxBufLen) return false;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return true;
}

CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID) {
  if (applicationID != kCFPreferencesCurrentApplication) return nullptr;
  CFTypeRef value = standin::get(standin::world().preferences, standin::toUtf8(key));
  return value ? CFRetain(value) : nullptr;
}

void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID) {
  if (applicationID == kCFPreferencesCurrentApplication) {
    standin::put(standin::world().preferences, standin::toUtf8(key), value);
  }
}

Boolean CFPreferencesAppSynchronize(CFStringRef applicationID) {
  if (applicationID == kCFPreferencesCurrentApplication) ++standin::world().synchronizations;
  return true;
}

}  // extern "C"
