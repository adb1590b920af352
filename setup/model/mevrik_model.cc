#include "setup/model/mevrik_model.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "setup/model/installation_id.h"
#include "setup/model/platform_texts.h"
#include "setup/model/plugin_cache.h"
#include "setup/model/version.h"

namespace setup {
namespace {

// Set by the build (setup/CMakeLists.txt).
constexpr char kDefaultServiceUrl[] = MEVRIK_DEFAULT_SERVICE_URL;
constexpr char kSourceProductRoot[] = MEVRIK_SOURCE_ROOT;
constexpr char kPlatformName[] = MEVRIK_PLATFORM_NAME;

const QString kInitialMessage = QStringLiteral("上から順番に設定してください。");
const QString kInstallSucceeded = QStringLiteral(
    "Codexが開きます。「インストール」を押したら、この画面へ戻って状態を確認してください。");
const QString kDoctorSucceeded = QStringLiteral("接続チェックは正常です。");
const QString kUninstallSucceeded =
    QStringLiteral("Codex連携を削除しました。アプリを終了してゴミ箱へ移動できます。");
const QString kUpdateCheckFailed =
    QStringLiteral("アップデートを確認できませんでした。時間をおいて再度お試しください。");

const QString kDidRequestAccessibilityKey = QStringLiteral("didRequestAccessibilityOnFirstLaunch");
const QString kLastPresentedUpdateKey = QStringLiteral("lastPresentedUpdateVersion");
const QStringList kUvRunPrefix = {QStringLiteral("run"), QStringLiteral("--no-project"),
                                  QStringLiteral("--python"), QStringLiteral("3.13"),
                                  QStringLiteral("python")};

// `base` with `path` appended to its own path, so that a service hosted below a prefix works.
QUrl endpoint(const QUrl& base, const QString& path) {
  QUrl url = base;
  QString basePath = url.path();
  while (basePath.endsWith(u'/')) basePath.chop(1);
  url.setPath(basePath + path);
  return url;
}

// Errors that Qt reports for an HTTP status it received; the body of such an answer is still
// read, as a manifest served with an error status is a manifest all the same.
bool isHttpStatusError(QNetworkReply::NetworkError error) {
  switch (error) {
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentReSendError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
      return true;
    default:
      return false;
  }
}

}  // namespace

ModelSettings defaultModelSettings() {
  ModelSettings settings;
  const QString fromEnvironment = qEnvironmentVariable("MEVRIK_SERVICE_URL");
  settings.serviceUrl =
      QUrl(fromEnvironment.isEmpty() ? QString::fromUtf8(kDefaultServiceUrl) : fromEnvironment);
  settings.sourceProductRoot = QString::fromUtf8(kSourceProductRoot);
  return settings;
}

QString findProductRoot(const std::optional<QString>& resourceFolder,
                        const QString& sourceProductRoot) {
  if (resourceFolder) {
    const QString candidate = *resourceFolder + QStringLiteral("/product");
    if (QFile::exists(candidate)) return candidate;
  }
  return sourceProductRoot;
}

MevrikModel::MevrikModel(Services& services, ModelSettings settings, QObject* parent)
    : QObject(parent), services_(services), settings_(std::move(settings)) {
  write(accessibility_, false, &MevrikModel::accessibilityChanged);
  write(configured_, true, &MevrikModel::configuredChanged);
  write(codexInstalled_, false, &MevrikModel::codexInstalledChanged);
  write(message_, kInitialMessage, &MevrikModel::messageChanged);
  write(showUninstallConfirmation_, false, &MevrikModel::showUninstallConfirmationChanged);
  write(availableUpdateVersion_, std::optional<QString>(),
        &MevrikModel::availableUpdateVersionChanged);
  write(availableUpdateURL_, std::optional<QUrl>(), &MevrikModel::availableUpdateURLChanged);
  write(availableUpdateNotes_, std::optional<QString>(), &MevrikModel::availableUpdateNotesChanged);

  updateManifestURL_ = endpoint(settings_.serviceUrl, QStringLiteral("/latest.json"));
  installationRegistrationURL_ =
      endpoint(settings_.serviceUrl, QStringLiteral("/api/installations"));

  firstLaunchPrompt_.setSingleShot(true);
  // A coarse timer (Qt's default) may fire up to 5% early; the prompt waits the full delay.
  firstLaunchPrompt_.setTimerType(Qt::PreciseTimer);
  connect(&firstLaunchPrompt_, &QTimer::timeout, this, &MevrikModel::firstLaunchPromptDue);
  restartCheck_.setSingleShot(true);
  connect(&restartCheck_, &QTimer::timeout, this, &MevrikModel::reportApplicationsToRestart);
  // A registration sent just before the user quits would otherwise be cut off with the
  // network layer. Quitting waits once: the destructor that follows does not wait again.
  if (QCoreApplication* app = QCoreApplication::instance()) {
    connect(app, &QCoreApplication::aboutToQuit, this, [this] {
      if (waitedOnQuit_) return;
      waitedOnQuit_ = true;
      waitForPendingRegistrations(settings_.registrationGrace);
    });
  }

  refresh();
}

MevrikModel::~MevrikModel() {
  firstLaunchPrompt_.stop();
  restartCheck_.stop();
  // Update checks still running are dropped: their outcome has no one left to show it.
  for (const QPointer<QNetworkReply>& reply : std::as_const(updateChecks_)) {
    if (!reply) continue;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
  }
  // No waiting here: an event loop run from a destructor delivers events to objects that are
  // half torn down. Registrations still on their way go with the network layer; the one wait
  // for them belongs to quitting (aboutToQuit, above), which the application's model sees.
}

template <typename T>
void MevrikModel::write(T& field, T value, void (MevrikModel::*changed)()) {
  emit objectWillChange();
  field = std::move(value);
  emit(this->*changed)();
}

void MevrikModel::setShowUninstallConfirmation(bool value) {
  write(showUninstallConfirmation_, value, &MevrikModel::showUninstallConfirmationChanged);
}

QString MevrikModel::productRoot() const {
  std::call_once(productRootOnce_, [this] {
    productRoot_ = findProductRoot(services_.resourceFolder(), settings_.sourceProductRoot);
  });
  return productRoot_;
}

RunResult MevrikModel::run(const QString& executable, const QStringList& arguments) const {
  const QString uvEnvironment =
      services_.cacheFolder() + QStringLiteral("/com.fennick.mevrik/venv");
  return runToEnd(executable, arguments, productEnvironment(uvEnvironment));
}

void MevrikModel::refresh() {
  write(accessibility_, services_.isAccessibilityTrusted(), &MevrikModel::accessibilityChanged);
  write(configured_, true, &MevrikModel::configuredChanged);
  const QString cache = services_.homeFolder() + QStringLiteral("/.codex/plugins/cache");
  const bool installed = containsEntryNamed(QFile::encodeName(cache).toStdString(), "mevrik");
  write(codexInstalled_, installed, &MevrikModel::codexInstalledChanged);
}

void MevrikModel::installCodex() {
  const QString root = productRoot();
  const RunResult result =
      run(root + QStringLiteral("/runtime/uv"),
          kUvRunPrefix + QStringList{root + QStringLiteral("/scripts/install_codex.py")});
  if (!result.ok) {
    write(message_, result.output, &MevrikModel::messageChanged);
  } else {
    // Percent-encode the path ourselves (everything but unreserved characters and "/"), so a
    // "%" in a folder name cannot be taken for an escape.
    const QString marketplace =
        services_.homeFolder() + QStringLiteral("/.agents/plugins/marketplace.json");
    QUrl link;
    link.setScheme(QStringLiteral("codex"));
    link.setHost(QStringLiteral("plugins"));
    link.setPath(QStringLiteral("/mevrik"));
    link.setQuery(QStringLiteral("marketplacePath=") +
                      QString::fromLatin1(QUrl::toPercentEncoding(marketplace, "/")),
                  QUrl::StrictMode);
    if (link.isValid()) services_.openUrl(link);
    write(message_, kInstallSucceeded, &MevrikModel::messageChanged);
  }
  refresh();
}

void MevrikModel::runDoctor() {
  // zsh -f reads none of the user's startup files: their output or failures are no part of the
  // check.
  const RunResult result =
      run(QStringLiteral("/bin/zsh"),
          {QStringLiteral("-f"), productRoot() + QStringLiteral("/scripts/doctor.sh")});
  write(message_, result.ok ? kDoctorSucceeded : result.output, &MevrikModel::messageChanged);
  refresh();
}

void MevrikModel::uninstall() {
  const QString root = productRoot();
  const RunResult result =
      run(root + QStringLiteral("/runtime/uv"),
          kUvRunPrefix + QStringList{root + QStringLiteral("/scripts/uninstall.py")});
  write(message_, result.ok ? kUninstallSucceeded : result.output, &MevrikModel::messageChanged);
  refresh();
}

void MevrikModel::requestAccessibility() {
  const PlatformTexts& texts = platformTexts();
  services_.promptForAccessibility();
  if (!services_.switchesAccessibilityItself()) {
    // The system's prompt leads the user on; coming back re-reads the state.
    write(message_, text(texts.accessibilityRequested), &MevrikModel::messageChanged);
    return;
  }
  // The switch is ours: show its effect at once.
  refresh();
  if (!accessibility_) {
    write(message_,
          text(services_.waitsForNewLogin() ? texts.logInAgain : texts.accessibilityFailed),
          &MevrikModel::messageChanged);
    return;
  }
  write(message_, text(texts.accessibilityRequested), &MevrikModel::messageChanged);
  restartCheck_.start(settings_.restartCheckDelay);
}

void MevrikModel::reportApplicationsToRestart() {
  const PlatformTexts& texts = platformTexts();
  // Another action has spoken meanwhile: its outcome stays.
  if (message_ != text(texts.accessibilityRequested)) return;
  const std::optional<QStringList> names = services_.applicationsToRestart();
  QString tail = text(texts.restartUnknown);
  if (names && names->isEmpty()) tail = text(texts.restartNone);
  if (names && !names->isEmpty())
    tail = text(texts.restartApplications).arg(names->join(QStringLiteral("、")));
  write(message_, text(texts.accessibilityRequested) + tail, &MevrikModel::messageChanged);
}

void MevrikModel::firstLaunchPromptDue() {
  if (!services_.switchesAccessibilityItself()) {
    requestAccessibility();
    return;
  }
  // A desktop-wide setting is switched only when the user says so; nothing to ask when it came
  // on meanwhile.
  refresh();
  if (!accessibility_) emit accessibilityConsentRequested();
}

void MevrikModel::requestAccessibilityOnFirstLaunch() {
  if (accessibility_) return;
  if (services_.boolSetting(kDidRequestAccessibilityKey)) return;
  services_.setBoolSetting(kDidRequestAccessibilityKey, true);
  firstLaunchPrompt_.start(settings_.firstLaunchPromptDelay);
}

void MevrikModel::enableLaunchAtLogin() {
  if (services_.loginItemStatus() != LoginItemStatus::kNotRegistered) return;
  services_.registerLoginItem();  // a refusal is dropped; the next call tries again
}

void MevrikModel::checkForUpdates(bool showCurrentStatus) {
  QNetworkRequest request(updateManifestURL_);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setTransferTimeout(static_cast<int>(settings_.requestTimeout.count()));
  QNetworkReply* reply = network().get(request);
  updateChecks_.append(reply);
  connect(reply, &QNetworkReply::finished, this,
          [this, reply, showCurrentStatus] { finishUpdateCheck(reply, showCurrentStatus); });
}

void MevrikModel::finishUpdateCheck(QNetworkReply* reply, bool showCurrentStatus) {
  reply->deleteLater();
  updateChecks_.removeAll(reply);
  const bool answered = reply->error() == QNetworkReply::NoError ||
                        (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() &&
                         isHttpStatusError(reply->error()));
  const std::optional<UpdateManifest> manifest =
      answered ? decodeUpdateManifest(reply->readAll()) : std::nullopt;
  if (manifest) {
    applyManifest(*manifest, showCurrentStatus);
  } else if (showCurrentStatus) {
    write(message_, kUpdateCheckFailed, &MevrikModel::messageChanged);
  }
  emit updateCheckFinished();
}

void MevrikModel::applyManifest(const UpdateManifest& manifest, bool showCurrentStatus) {
  const QString current = services_.applicationVersion().value_or(QStringLiteral("0"));
  if (compareVersions(manifest.version, current) != std::strong_ordering::greater) {
    if (showCurrentStatus) {
      write(message_,
            QStringLiteral("最新版（バージョン") + current + QStringLiteral("）を使用しています。"),
            &MevrikModel::messageChanged);
    }
    return;
  }
  write(availableUpdateVersion_, std::optional<QString>(manifest.version),
        &MevrikModel::availableUpdateVersionChanged);
  write(availableUpdateURL_, std::optional<QUrl>(manifest.downloadURL),
        &MevrikModel::availableUpdateURLChanged);
  write(availableUpdateNotes_, manifest.notes, &MevrikModel::availableUpdateNotesChanged);

  // Bring the window forward once per newer version, across launches.
  const std::optional<QString> lastPresented = services_.stringSetting(kLastPresentedUpdateKey);
  if (lastPresented && *lastPresented == manifest.version) return;
  services_.setStringSetting(kLastPresentedUpdateKey, manifest.version);
  services_.activateApplication();
  services_.bringWindowForward(QStringLiteral("setup"), QStringLiteral("Mevrik by Fennick"));
}

QNetworkAccessManager& MevrikModel::network() {
  if (!network_) network_ = std::make_unique<QNetworkAccessManager>();
  return *network_;
}

void MevrikModel::downloadUpdate() {
  if (availableUpdateURL_) services_.openUrl(*availableUpdateURL_);
}

std::optional<QString> MevrikModel::installationID() const {
  return loadOrCreateInstallationId(services_.dataFolder() + QStringLiteral("/Mevrik"));
}

void MevrikModel::registerInstallation() {
  const std::optional<QString> id = installationID();
  if (!id) return;
  const QJsonObject body{
      {QStringLiteral("installation_id"), *id},
      {QStringLiteral("version"),
       services_.applicationVersion().value_or(QStringLiteral("unknown"))},
      {QStringLiteral("platform"), QString::fromUtf8(kPlatformName)},
  };
  QNetworkRequest request(installationRegistrationURL_);
  request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
  request.setTransferTimeout(static_cast<int>(settings_.requestTimeout.count()));
  QNetworkReply* reply =
      network().post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
  // The answer is of no interest; the reply is only kept so that quitting can wait for it.
  connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
  pendingRegistrations_.append(reply);
}

void MevrikModel::waitForPendingRegistrations(std::chrono::milliseconds limit) {
  auto stillPending = [this] {
    pendingRegistrations_.removeIf(
        [](const QPointer<QNetworkReply>& reply) { return reply.isNull() || reply->isFinished(); });
    return !pendingRegistrations_.isEmpty();
  };
  if (!stillPending()) return;
  QEventLoop loop;
  for (const QPointer<QNetworkReply>& reply : std::as_const(pendingRegistrations_)) {
    connect(reply, &QNetworkReply::finished, &loop, [&] {
      if (!stillPending()) loop.quit();
    });
  }
  QTimer::singleShot(limit, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace setup
