// mevrik-model-cli: drives the setup model from the command line, without the window, so that
// its actions can be tried by hand (for example against a local service through
// MEVRIK_SERVICE_URL). Runs the named actions in order, then prints the model's state as JSON.
#include <QApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>

#include "setup/model/mevrik_model.h"

namespace {

constexpr char kUsage[] =
    "usage: mevrik-model-cli ACTION...\n"
    "actions: refresh install doctor uninstall request-accessibility first-launch\n"
    "         launch-at-login check-updates check-updates-silently download register\n"
    "The service address is MEVRIK_SERVICE_URL when set.\n";

QJsonValue optionalText(const std::optional<QString>& text) {
  return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

void printState(const setup::MevrikModel& model) {
  const std::optional<QUrl> url = model.availableUpdateURL();
  const QJsonObject state{
      {"accessibility", model.accessibility()},
      {"configured", model.configured()},
      {"codexInstalled", model.codexInstalled()},
      {"message", model.message()},
      {"showUninstallConfirmation", model.showUninstallConfirmation()},
      {"availableUpdateVersion", optionalText(model.availableUpdateVersion())},
      {"availableUpdateURL", url ? QJsonValue(url->toString()) : QJsonValue(QJsonValue::Null)},
      {"availableUpdateNotes", optionalText(model.availableUpdateNotes())},
      {"productRoot", model.productRoot()},
  };
  std::fputs(QJsonDocument(state).toJson(QJsonDocument::Indented).constData(), stdout);
}

// Runs the event loop until the model reports the end of its update check.
void waitForUpdateCheck(setup::MevrikModel& model) {
  QEventLoop loop;
  QObject::connect(&model, &setup::MevrikModel::updateCheckFinished, &loop, &QEventLoop::quit);
  QTimer::singleShot(std::chrono::seconds(30), &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList actions = app.arguments().mid(1);
  if (actions.isEmpty() || actions.contains(QStringLiteral("--help"))) {
    std::fputs(kUsage, actions.isEmpty() ? stderr : stdout);
    return actions.isEmpty() ? 2 : 0;
  }
  const std::unique_ptr<setup::Services> services = setup::createPlatformServices();
  setup::MevrikModel model(*services, setup::defaultModelSettings());
  for (const QString& action : actions) {
    if (action == u"refresh") {
      model.refresh();
    } else if (action == u"install") {
      model.installCodex();
    } else if (action == u"doctor") {
      model.runDoctor();
    } else if (action == u"uninstall") {
      model.uninstall();
    } else if (action == u"request-accessibility") {
      model.requestAccessibility();
    } else if (action == u"first-launch") {
      model.requestAccessibilityOnFirstLaunch();
      QEventLoop loop;
      QTimer::singleShot(std::chrono::seconds(1), &loop, &QEventLoop::quit);
      loop.exec();
    } else if (action == u"launch-at-login") {
      model.enableLaunchAtLogin();
    } else if (action == u"check-updates" || action == u"check-updates-silently") {
      model.checkForUpdates(action == u"check-updates");
      waitForUpdateCheck(model);
    } else if (action == u"download") {
      model.downloadUpdate();
    } else if (action == u"register") {
      model.registerInstallation();
      model.waitForPendingRegistrations(std::chrono::seconds(10));
    } else {
      std::fprintf(stderr, "mevrik-model-cli: unknown action \"%s\"\n%s", qPrintable(action),
                   kUsage);
      return 2;
    }
  }
  printState(model);
  return 0;
}
