// The part of the setup application's macOS services that needs only the C interfaces
// (CoreFoundation and the Accessibility API): the permission, the user defaults, the bundle's
// version and resources, the Library folders. services-mac.mm wraps it with the AppKit and
// ServiceManagement parts; Linux test builds run it on the Apple stand-in.
#pragma once

#include <optional>
#include <string>

namespace setup::mac {

bool isAccessibilityTrusted();
// Asks the system to show its permission prompt when this process is not trusted yet.
void promptForAccessibility();

// The standard user defaults of this application (its bundle identifier's domain). A Boolean
// that is absent or not a Boolean or number reads as false; a text that is absent or of
// another type reads as none. Writes reach the disk before the call returns.
bool boolDefault(const std::string& key);
void setBoolDefault(const std::string& key, bool value);
std::optional<std::string> stringDefault(const std::string& key);
void setStringDefault(const std::string& key, const std::string& value);

// The main bundle's "CFBundleShortVersionString" when it is a text; its resources folder.
std::optional<std::string> bundleVersion();
std::optional<std::string> resourcesFolder();

// "Library/Caches" and "Library/Application Support" in the home folder.
std::string cachesFolder(const std::string& home);
std::string applicationSupportFolder(const std::string& home);

}  // namespace setup::mac
