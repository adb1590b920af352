// Services for tests: every answer is a field the test sets, every request is recorded.
#pragma once

#include <QHash>
#include <QList>
#include <QStringList>

#include "setup/platform/services.h"

namespace setup {

class FakeServices : public Services {
 public:
  // Answers.
  bool trusted = false;
  // What promptForAccessibility does: nothing (a system prompt) or switch `trusted` on.
  bool switchesItself = false;
  bool switchTakes = true;
  std::optional<QStringList> toRestart = QStringList();
  bool newLoginNeeded = false;
  LoginItemStatus loginStatus = LoginItemStatus::kNotRegistered;
  bool loginRegistrationSucceeds = true;
  std::optional<QString> version = QStringLiteral("1.0.0");
  QString home;
  QString cache;
  QString data;
  std::optional<QString> resources;
  // Which window bringWindowForward finds: it matches when the identifier or the title equals
  // one of these.
  QStringList windowIdentifiers;
  QStringList windowTitles;

  // What happened, in order.
  int prompts = 0;
  int loginRegistrations = 0;
  int activations = 0;
  QList<QUrl> openedUrls;
  QStringList broughtForward;  // "identifier|title" of each successful request
  QHash<QString, bool> bools;
  QHash<QString, QString> strings;

  bool isAccessibilityTrusted() override { return trusted; }
  void promptForAccessibility() override {
    ++prompts;
    if (switchesItself && switchTakes) trusted = true;
  }
  bool switchesAccessibilityItself() override { return switchesItself; }
  std::optional<QStringList> applicationsToRestart() override { return toRestart; }
  bool waitsForNewLogin() override { return newLoginNeeded; }
  LoginItemStatus loginItemStatus() override { return loginStatus; }
  bool registerLoginItem() override {
    ++loginRegistrations;
    if (loginRegistrationSucceeds) loginStatus = LoginItemStatus::kEnabled;
    return loginRegistrationSucceeds;
  }
  void openUrl(const QUrl& url) override { openedUrls.append(url); }
  void activateApplication() override { ++activations; }
  bool bringWindowForward(const QString& identifier, const QString& title) override {
    if (!windowIdentifiers.contains(identifier) && !windowTitles.contains(title)) return false;
    broughtForward.append(identifier + u'|' + title);
    return true;
  }
  bool boolSetting(const QString& key) override { return bools.value(key, false); }
  void setBoolSetting(const QString& key, bool value) override { bools.insert(key, value); }
  std::optional<QString> stringSetting(const QString& key) override {
    if (!strings.contains(key)) return std::nullopt;
    return strings.value(key);
  }
  void setStringSetting(const QString& key, const QString& value) override {
    strings.insert(key, value);
  }
  std::optional<QString> applicationVersion() override { return version; }
  QString homeFolder() override { return home; }
  QString cacheFolder() override { return cache; }
  QString dataFolder() override { return data; }
  std::optional<QString> resourceFolder() override { return resources; }
};

}  // namespace setup
