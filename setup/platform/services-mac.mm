// The setup application's services on macOS: the Accessibility permission, SMAppService as the
// login item, NSWorkspace, NSUserDefaults through QSettings, the bundle's version and the
// Library folders. CMake builds this file only for macOS; the Linux build machine does not
// compile it.
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>
#import <ServiceManagement/ServiceManagement.h>

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include "setup/platform/qt_windows.h"
#include "setup/platform/services.h"

namespace setup {
namespace {

QSettings userSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Fennick"),
                   QStringLiteral("Mevrik"));
}

class MacServices : public Services {
 public:
  bool isAccessibilityTrusted() override { return AXIsProcessTrusted(); }

  void promptForAccessibility() override {
    NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
    AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
  }

  LoginItemStatus loginItemStatus() override {
    switch (SMAppService.mainAppService.status) {
      case SMAppServiceStatusNotRegistered:
        return LoginItemStatus::kNotRegistered;
      case SMAppServiceStatusEnabled:
        return LoginItemStatus::kEnabled;
      case SMAppServiceStatusRequiresApproval:
        return LoginItemStatus::kRequiresApproval;
      default:
        return LoginItemStatus::kNotFound;
    }
  }

  bool registerLoginItem() override {
    return [SMAppService.mainAppService registerAndReturnError:nil];
  }

  void openUrl(const QUrl& url) override {
    NSURL* link = url.toNSURL();
    if (link) [[NSWorkspace sharedWorkspace] openURL:link];
  }

  void activateApplication() override { [NSApp activateIgnoringOtherApps:YES]; }

  bool bringWindowForward(const QString& identifier, const QString& title) override {
    return bringQtWindowForward(identifier, title);
  }

  bool boolSetting(const QString& key) override { return userSettings().value(key).toBool(); }
  void setBoolSetting(const QString& key, bool value) override {
    userSettings().setValue(key, value);
  }
  std::optional<QString> stringSetting(const QString& key) override {
    const QVariant value = userSettings().value(key);
    if (value.typeId() != QMetaType::QString) return std::nullopt;
    return value.toString();
  }
  void setStringSetting(const QString& key, const QString& value) override {
    userSettings().setValue(key, value);
  }

  std::optional<QString> applicationVersion() override {
    id value = [NSBundle.mainBundle objectForInfoDictionaryKey:@"CFBundleShortVersionString"];
    if (![value isKindOfClass:[NSString class]]) return std::nullopt;
    return QString::fromNSString(value);
  }

  QString homeFolder() override { return QDir::homePath(); }
  QString cacheFolder() override {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  }
  QString dataFolder() override {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  }
  std::optional<QString> resourceFolder() override {
    NSString* resources = NSBundle.mainBundle.resourcePath;
    if (!resources) return std::nullopt;
    return QString::fromNSString(resources);
  }
};

}  // namespace

std::unique_ptr<Services> createPlatformServices() {
  return std::make_unique<MacServices>();
}

}  // namespace setup
