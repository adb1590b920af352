// The setup application's one observable object: what the setup panel shows, and every action
// behind its buttons.
#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

#include "setup/model/runner.h"
#include "setup/model/update_manifest.h"
#include "setup/platform/services.h"

class QNetworkReply;

namespace setup {

// What the model is told at construction besides the platform services. Tests shorten the
// waits and point the service address at a local server.
struct ModelSettings {
  // The vendor service's base address; the model requests "/latest.json" and
  // "/api/installations" below it.
  QUrl serviceUrl;
  // How long a request may go without receiving anything before it fails.
  std::chrono::milliseconds requestTimeout{10000};
  // Delay of the automatic accessibility prompt on the first launch.
  std::chrono::milliseconds firstLaunchPromptDelay{800};
  // Where step 1 switches the desktop's accessibility on: how long applications that follow
  // the switch while running are given to join the accessibility bus before the model names
  // those that must be restarted.
  std::chrono::milliseconds restartCheckDelay{1000};
  // How long quitting the application may wait for registration requests that are still on
  // their way.
  std::chrono::milliseconds registrationGrace{2500};
  // The build's own product folder, used when the installed resources carry none.
  QString sourceProductRoot;
};

// The settings of a real run: the build's service address unless the environment variable
// "MEVRIK_SERVICE_URL" names another one, and the build's source tree as the fallback product
// folder.
ModelSettings defaultModelSettings();

// Where the product's scripts are: `resourceFolder`/"product" when that exists, otherwise
// `sourceProductRoot` (unchecked: a development build finds the scripts of its own tree).
QString findProductRoot(const std::optional<QString>& resourceFolder,
                        const QString& sourceProductRoot);

class MevrikModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool accessibility READ accessibility NOTIFY accessibilityChanged)
  Q_PROPERTY(bool configured READ configured NOTIFY configuredChanged)
  Q_PROPERTY(bool codexInstalled READ codexInstalled NOTIFY codexInstalledChanged)
  Q_PROPERTY(QString message READ message NOTIFY messageChanged)
  Q_PROPERTY(bool showUninstallConfirmation READ showUninstallConfirmation WRITE
                 setShowUninstallConfirmation NOTIFY showUninstallConfirmationChanged)
  Q_PROPERTY(std::optional<QString> availableUpdateVersion READ availableUpdateVersion NOTIFY
                 availableUpdateVersionChanged)
  Q_PROPERTY(std::optional<QUrl> availableUpdateURL READ availableUpdateURL NOTIFY
                 availableUpdateURLChanged)
  Q_PROPERTY(std::optional<QString> availableUpdateNotes READ availableUpdateNotes NOTIFY
                 availableUpdateNotesChanged)

 public:
  // `services` must outlive the model. Sets the initial state and ends with refresh().
  MevrikModel(Services& services, ModelSettings settings, QObject* parent = nullptr);
  // Drops what is still on its way; it runs no event loop. Quitting the application (aboutToQuit)
  // is what waits, once, up to the registration grace, for registrations still on their way.
  ~MevrikModel() override;

  bool accessibility() const { return accessibility_; }
  bool configured() const { return configured_; }
  bool codexInstalled() const { return codexInstalled_; }
  QString message() const { return message_; }
  bool showUninstallConfirmation() const { return showUninstallConfirmation_; }
  std::optional<QString> availableUpdateVersion() const { return availableUpdateVersion_; }
  std::optional<QUrl> availableUpdateURL() const { return availableUpdateURL_; }
  std::optional<QString> availableUpdateNotes() const { return availableUpdateNotes_; }

  void setShowUninstallConfirmation(bool value);

  // The product folder, settled on first use and fixed for the model's life.
  QString productRoot() const;
  QUrl updateManifestURL() const { return updateManifestURL_; }
  QUrl installationRegistrationURL() const { return installationRegistrationURL_; }

  // Blocks until registration requests still on their way are answered or `limit` has passed.
  void waitForPendingRegistrations(std::chrono::milliseconds limit);

 public slots:
  void refresh();
  void installCodex();
  void runDoctor();
  void uninstall();
  void requestAccessibility();
  void requestAccessibilityOnFirstLaunch();
  void enableLaunchAtLogin();
  void checkForUpdates(bool showCurrentStatus);
  void downloadUpdate();
  void registerInstallation();

 signals:
  // Emitted before every write of a published property, also when the value does not change.
  void objectWillChange();
  // Emitted after each write of the property, also when the value did not change.
  void accessibilityChanged();
  void configuredChanged();
  void codexInstalledChanged();
  void messageChanged();
  void showUninstallConfirmationChanged();
  void availableUpdateVersionChanged();
  void availableUpdateURLChanged();
  void availableUpdateNotesChanged();
  // The first launch on a desktop where step 1 switches a desktop-wide setting: the front asks
  // the user and calls requestAccessibility() when the answer is yes.
  void accessibilityConsentRequested();
  // Emitted once per update check after its outcome has been applied, silent outcomes included,
  // so that fronts and tests can wait for a check.
  void updateCheckFinished();

 private:
  template <typename T>
  void write(T& field, T value, void (MevrikModel::*changed)());

  RunResult run(const QString& executable, const QStringList& arguments) const;
  void firstLaunchPromptDue();
  void reportApplicationsToRestart();
  void finishUpdateCheck(QNetworkReply* reply, bool showCurrentStatus);
  void applyManifest(const UpdateManifest& manifest, bool showCurrentStatus);
  std::optional<QString> installationID() const;
  QNetworkAccessManager& network();

  Services& services_;
  ModelSettings settings_;

  bool accessibility_ = false;
  bool configured_ = true;
  bool codexInstalled_ = false;
  QString message_;
  bool showUninstallConfirmation_ = false;
  std::optional<QString> availableUpdateVersion_;
  std::optional<QUrl> availableUpdateURL_;
  std::optional<QString> availableUpdateNotes_;

  QUrl updateManifestURL_;
  QUrl installationRegistrationURL_;

  mutable std::once_flag productRootOnce_;
  mutable QString productRoot_;

  // The delayed first-launch prompt; a member, so that it dies with the model and a prompt
  // never reaches a model that is gone.
  QTimer firstLaunchPrompt_;
  QTimer restartCheck_;

  // Made with the first request, which comes after the window's first frame.
  std::unique_ptr<QNetworkAccessManager> network_;
  QList<QPointer<QNetworkReply>> updateChecks_;
  QList<QPointer<QNetworkReply>> pendingRegistrations_;
  bool waitedOnQuit_ = false;
};

}  // namespace setup
