// The setup application's services on macOS. What needs only CoreFoundation and the
// Accessibility API (the permission, the user defaults, the bundle's version and resources, the
// Library folders) is in foundation-mac.cc; this file adds the AppKit and ServiceManagement
// parts: the login item, opening links, activating the application. CMake builds it only for
// Apple systems.
#import <AppKit/AppKit.h>
#import <ServiceManagement/ServiceManagement.h>

#include "setup/platform/foundation-mac.h"
#include "setup/platform/qt_windows.h"
#include "setup/platform/services.h"

namespace setup {
namespace {

std::optional<QString> qt(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return QString::fromStdString(*text);
}

class MacServices : public Services {
 public:
  bool isAccessibilityTrusted() override { return mac::isAccessibilityTrusted(); }
  void promptForAccessibility() override { mac::promptForAccessibility(); }

  LoginItemStatus loginItemStatus() override {
    switch (SMAppService.mainAppService.status) {
      case SMAppServiceStatusNotRegistered:
        return LoginItemStatus::kNotRegistered;
      case SMAppServiceStatusEnabled:
        return LoginItemStatus::kEnabled;
      case SMAppServiceStatusRequiresApproval:
        return LoginItemStatus::kRequiresApproval;
      case SMAppServiceStatusNotFound:
        return LoginItemStatus::kNotFound;
    }
    return LoginItemStatus::kNotFound;
  }

  bool registerLoginItem() override {
    NSError* error = nil;
    return [SMAppService.mainAppService registerAndReturnError:&error];
  }

  void openUrl(const QUrl& url) override {
    NSURL* link = url.toNSURL();
    if (link) [[NSWorkspace sharedWorkspace] openURL:link];
  }

  // From macOS 14 activateIgnoringOtherApps: no longer brings the application forward
  // (activation became cooperative); activate is what does. Builds for older systems keep the
  // old call there.
  void activateApplication() override {
#if __MAC_OS_X_VERSION_MIN_REQUIRED >= 140000
    [NSApp activate];
#else
    if (@available(macOS 14, *)) {
      [NSApp activate];
    } else {
      [NSApp activateIgnoringOtherApps:YES];
    }
#endif
  }

  bool bringWindowForward(const QString& identifier, const QString& title) override {
    return bringQtWindowForward(identifier, title);
  }

  bool boolSetting(const QString& key) override {
    return mac::boolDefault(key.toStdString());
  }
  void setBoolSetting(const QString& key, bool value) override {
    mac::setBoolDefault(key.toStdString(), value);
  }
  std::optional<QString> stringSetting(const QString& key) override {
    return qt(mac::stringDefault(key.toStdString()));
  }
  void setStringSetting(const QString& key, const QString& value) override {
    mac::setStringDefault(key.toStdString(), value.toStdString());
  }

  std::optional<QString> applicationVersion() override {
    return qt(mac::bundleVersion());
  }

  QString homeFolder() override {
    return QString::fromNSString(NSHomeDirectory());
  }
  QString cacheFolder() override {
    return QString::fromStdString(mac::cachesFolder(homeFolder().toStdString()));
  }
  QString dataFolder() override {
    return QString::fromStdString(mac::applicationSupportFolder(homeFolder().toStdString()));
  }
  std::optional<QString> resourceFolder() override {
    return qt(mac::resourcesFolder());
  }
};

}  // namespace

std::unique_ptr<Services> createPlatformServices() {
  return std::make_unique<MacServices>();
}

}  // namespace setup
