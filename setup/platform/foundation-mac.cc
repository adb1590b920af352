#include "setup/platform/foundation-mac.h"

#include <ApplicationServices/ApplicationServices.h>

#include <vector>

#include "common/cf-ref.h"

namespace setup::mac {
namespace {

using mevrik::CFRef;
using mevrik::cfString;
using mevrik::toUtf8;

CFRef<CFPropertyListRef> copyDefault(const std::string& key) {
  const CFRef<CFStringRef> name = cfString(key);
  if (!name) return {};
  return CFRef<CFPropertyListRef>(
      CFPreferencesCopyAppValue(name.get(), kCFPreferencesCurrentApplication));
}

void storeDefault(const std::string& key, CFPropertyListRef value) {
  const CFRef<CFStringRef> name = cfString(key);
  if (!name || !value) return;
  CFPreferencesSetAppValue(name.get(), value, kCFPreferencesCurrentApplication);
  CFPreferencesAppSynchronize(kCFPreferencesCurrentApplication);
}

}  // namespace

bool isAccessibilityTrusted() {
  return AXIsProcessTrusted();
}

void promptForAccessibility() {
  const void* keys[] = {kAXTrustedCheckOptionPrompt};
  const void* values[] = {kCFBooleanTrue};
  const CFRef<CFDictionaryRef> options(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                                          &kCFTypeDictionaryKeyCallBacks,
                                                          &kCFTypeDictionaryValueCallBacks));
  AXIsProcessTrustedWithOptions(options.get());
}

bool boolDefault(const std::string& key) {
  const CFRef<CFPropertyListRef> value = copyDefault(key);
  if (!value) return false;
  const CFTypeID type = CFGetTypeID(value.get());
  if (type == CFBooleanGetTypeID())
    return CFBooleanGetValue(static_cast<CFBooleanRef>(value.get()));
  if (type == CFNumberGetTypeID()) {
    double number = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(value.get()), kCFNumberDoubleType, &number);
    return number != 0;
  }
  return false;
}

void setBoolDefault(const std::string& key, bool value) {
  storeDefault(key, value ? kCFBooleanTrue : kCFBooleanFalse);
}

std::optional<std::string> stringDefault(const std::string& key) {
  const CFRef<CFPropertyListRef> value = copyDefault(key);
  if (!value || CFGetTypeID(value.get()) != CFStringGetTypeID()) return std::nullopt;
  return toUtf8(static_cast<CFStringRef>(value.get()));
}

void setStringDefault(const std::string& key, const std::string& value) {
  storeDefault(key, cfString(value).get());
}

std::optional<std::string> bundleVersion() {
  const CFRef<CFStringRef> key = cfString("CFBundleShortVersionString");
  // A Get result: owned by the bundle, not released here.
  CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(CFBundleGetMainBundle(), key.get());
  if (!value || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
  return toUtf8(static_cast<CFStringRef>(value));
}

std::optional<std::string> resourcesFolder() {
  const CFRef<CFURLRef> url(CFBundleCopyResourcesDirectoryURL(CFBundleGetMainBundle()));
  if (!url) return std::nullopt;
  std::vector<UInt8> path(4096);
  if (!CFURLGetFileSystemRepresentation(url.get(), true, path.data(),
                                        static_cast<CFIndex>(path.size()))) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(path.data()));
}

std::string cachesFolder(const std::string& home) {
  return home + "/Library/Caches";
}

std::string applicationSupportFolder(const std::string& home) {
  return home + "/Library/Application Support";
}

}  // namespace setup::mac
