// The model's state, refresh, plug-in actions, accessibility prompt and login item, with fake
// services and real child processes in a temporary product folder.
#include "setup/model/mevrik_model.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "setup/model/platform_texts.h"
#include "setup/model/test_files.h"
#include "setup/model/test_http_server.h"
#include "setup/platform/fake_services.h"

namespace setup {

class MevrikModelTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> dir_;
  FakeServices services_;
  QString product_;

  ModelSettings settings() {
    ModelSettings settings;
    settings.serviceUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    settings.sourceProductRoot = dir_->filePath("source-tree");
    settings.registrationGrace = std::chrono::milliseconds(0);
    settings.firstLaunchPromptDelay = std::chrono::milliseconds(100);
    return settings;
  }
  QString cache() const { return services_.home + "/.codex/plugins/cache"; }
  // A fake uv: records its arguments (one a line) and runs `body`.
  void writeUv(const QByteArray& body) {
    writeFile(product_ + "/runtime/uv",
              "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/../uv-arguments\"\n" + body,
              true);
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    services_ = FakeServices();
    // A space in the home folder's path checks that paths stay whole and links get encoded.
    services_.home = dir_->filePath("home folder");
    services_.cache = dir_->filePath("cache");
    services_.data = dir_->filePath("data");
    services_.resources = dir_->filePath("resources");
    product_ = *services_.resources + "/product";
    QDir().mkpath(services_.home);
    QDir().mkpath(product_ + "/scripts");
  }

  void startsInTheInitialStateAndReadsTheRealOne() {
    services_.trusted = true;
    QDir().mkpath(cache() + "/market/mevrik");
    MevrikModel model(services_, settings());
    QVERIFY(model.accessibility());
    QVERIFY(model.configured());
    QVERIFY(model.codexInstalled());
    QCOMPARE(model.message(), QStringLiteral("上から順番に設定してください。"));
    QVERIFY(!model.showUninstallConfirmation());
  }

  void buildsTheServiceAddresses() {
    ModelSettings s = settings();
    s.serviceUrl = QUrl("https://example.test/prefix/");
    MevrikModel model(services_, s);
    QCOMPARE(model.updateManifestURL(), QUrl("https://example.test/prefix/latest.json"));
    QCOMPARE(model.installationRegistrationURL(),
             QUrl("https://example.test/prefix/api/installations"));
    QCOMPARE(defaultModelSettings().serviceUrl.scheme(), QStringLiteral("https"));
  }

  void signalsBeforeEveryWriteEvenWhenUnchanged() {
    MevrikModel model(services_, settings());
    services_.trusted = true;
    QList<bool> seenAccessibility;
    int willChange = 0;
    connect(&model, &MevrikModel::objectWillChange, this, [&] {
      ++willChange;
      seenAccessibility.append(model.accessibility());
    });
    QSignalSpy accessibilityChanged(&model, &MevrikModel::accessibilityChanged);
    model.refresh();
    QCOMPARE(willChange, 3);
    // The first signal came before accessibility was written.
    QCOMPARE(seenAccessibility.value(0), false);
    QCOMPARE(accessibilityChanged.count(), 1);
    model.refresh();  // nothing differs, yet every write is announced
    QCOMPARE(willChange, 6);
    model.setShowUninstallConfirmation(false);
    QCOMPARE(willChange, 7);
    model.setProperty("showUninstallConfirmation", true);
    QVERIFY(model.showUninstallConfirmation());
  }

  void findsThePluginInTheCache_data() {
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("installed");
    QTest::newRow("no cache") << QStringList() << QStringList() << false;
    QTest::newRow("empty cache") << QStringList{""} << QStringList() << false;
    QTest::newRow("deep folder") << QStringList{"a/b/market/mevrik/1.2.0/bin"} << QStringList()
                                 << true;
    QTest::newRow("plain file") << QStringList() << QStringList{"market/mevrik"} << true;
    QTest::newRow("hidden parent") << QStringList{".hidden/mevrik"} << QStringList() << true;
    QTest::newRow("longer names and other case")
        << QStringList{"mevrik-old/1.0", "Mevrik", "xmevrik", "MEVRIK/mevrik.d"}
        << QStringList{"mevrik.json", "a/mevrik~"} << false;
  }
  void findsThePluginInTheCache() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, files);
    QFETCH(bool, installed);
    for (const QString& f : folders) QDir().mkpath(cache() + "/" + f);
    for (const QString& f : files) writeFile(cache() + "/" + f, "x");
    MevrikModel model(services_, settings());
    QCOMPARE(model.codexInstalled(), installed);
  }

  void aUserCalledMevrikHasNoPluginForIt() {
    // Only what lies below the cache counts, not the folders above it.
    services_.home = dir_->filePath("mevrik");
    QDir().mkpath(cache() + "/other-plugin/1.0");
    MevrikModel model(services_, settings());
    QVERIFY(!model.codexInstalled());
  }

  void aLinkCycleDoesNotTrapTheWalk() {
    QDir().mkpath(cache() + "/a");
    QVERIFY(QFile::link(cache(), cache() + "/a/loop"));
    MevrikModel model(services_, settings());
    QVERIFY(!model.codexInstalled());
  }

  void installRunsTheInstallerThenOpensCodex() {
    // The installer puts the plug-in into the cache, so the refresh at the end sees it.
    writeUv("mkdir -p \"$HOME_UNDER_TEST/.codex/plugins/cache/m/mevrik\"\nprintf 'installed\\n'\n");
    qputenv("HOME_UNDER_TEST", services_.home.toUtf8());
    MevrikModel model(services_, settings());
    QVERIFY(!model.codexInstalled());
    model.installCodex();
    QCOMPARE(QString::fromUtf8(readFile(product_ + "/uv-arguments")).split(u'\n'),
             QStringList({"run", "--no-project", "--python", "3.13", "python",
                          product_ + "/scripts/install_codex.py", ""}));
    QCOMPARE(services_.openedUrls.size(), 1);
    QCOMPARE(services_.openedUrls[0].toString(QUrl::FullyEncoded),
             "codex://plugins/mevrik?marketplacePath=" +
                 QString(services_.home).replace(" ", "%20") + "/.agents/plugins/marketplace.json");
    QCOMPARE(model.message(), QStringLiteral("Codexが開きます。「インストール」を押したら、この画面"
                                             "へ戻って状態を確認してください。"));
    QVERIFY(model.codexInstalled());
  }

  void aFailedInstallShowsTheOutputAndOpensNothing() {
    writeUv("printf 'no network\\n'\nexit 1\n");
    MevrikModel model(services_, settings());
    QSignalSpy refreshed(&model, &MevrikModel::codexInstalledChanged);
    model.installCodex();
    QCOMPARE(model.message(), QStringLiteral("no network\n"));
    QVERIFY(services_.openedUrls.isEmpty());
    QCOMPARE(refreshed.count(), 1);
  }

  void aMissingUvIsReportedByTheSystem() {
    MevrikModel model(services_, settings());
    model.installCodex();
    QVERIFY2(model.message().contains("No such file or directory"), qPrintable(model.message()));
    QVERIFY(services_.openedUrls.isEmpty());
    model.uninstall();
    QVERIFY2(model.message().contains("No such file or directory"), qPrintable(model.message()));
  }

  void childrenGetTheProductsUvEnvironment() {
    qputenv("UV_PROJECT_ENVIRONMENT", "/somewhere/else");
    writeUv("printf '%s' \"$UV_PROJECT_ENVIRONMENT\"\nexit 1\n");
    MevrikModel model(services_, settings());
    model.uninstall();
    QCOMPARE(model.message(), services_.cache + "/com.fennick.mevrik/venv");
    qunsetenv("UV_PROJECT_ENVIRONMENT");
  }

  void aSilentFailedUninstallLeavesAnEmptyMessage() {
    writeUv("exit 7\n");
    MevrikModel model(services_, settings());
    model.uninstall();
    QCOMPARE(model.message(), QString());
  }

  void theConnectionCheckRunsUnderZsh() {
    if (!QFile::exists("/bin/zsh")) QSKIP("/bin/zsh is not installed");
    writeFile(product_ + "/scripts/doctor.sh", "print -r -- \"zsh $ZSH_VERSION\"\nexit 0\n");
    // The user's startup files stay out of it.
    writeFile(dir_->filePath("zdot/.zshenv"), "print zshenv\nexit 9\n");
    qputenv("ZDOTDIR", QFile::encodeName(dir_->filePath("zdot")));
    MevrikModel model(services_, settings());
    model.runDoctor();
    qunsetenv("ZDOTDIR");
    QCOMPARE(model.message(), QStringLiteral("接続チェックは正常です。"));
    writeFile(product_ + "/scripts/doctor.sh", "print -r -- 'service unreachable' >&2\nexit 2\n");
    model.runDoctor();
    QCOMPARE(model.message(), QStringLiteral("service unreachable\n"));
  }

  void findsTheProductFolderOnce() {
    QCOMPARE(findProductRoot(std::nullopt, "/src"), QStringLiteral("/src"));
    QCOMPARE(findProductRoot(dir_->filePath("nowhere"), "/src"), QStringLiteral("/src"));
    QCOMPARE(findProductRoot(services_.resources, "/src"), product_);
    MevrikModel model(services_, settings());
    QCOMPARE(model.productRoot(), product_);
    // Settled on first use: a product folder that goes away later is not noticed.
    QVERIFY(QDir(product_).removeRecursively());
    QCOMPARE(model.productRoot(), product_);
    MevrikModel fresh(services_, settings());
    QCOMPARE(fresh.productRoot(), dir_->filePath("source-tree"));
  }

  void promptsForAccessibilityOnRequest() {
    services_.trusted = true;
    MevrikModel model(services_, settings());
    model.requestAccessibility();
    QCOMPARE(services_.prompts, 1);
    QVERIFY(model.accessibility());  // only refresh re-reads it
    model.refresh();                 // which keeps the message
    QCOMPARE(model.message(), text(platformTexts().accessibilityRequested));
    // The macOS build says it as the system's own settings call it.
    QCOMPARE(text(macTexts().accessibilityRequested),
             QStringLiteral("システム設定で「Mevrik」をオンにして、アプリへ戻ってください。"));
  }

  void switchesTheDesktopsAccessibilityAndNamesWhatToRestart() {
    const PlatformTexts& t = platformTexts();
    const QString on = text(t.accessibilityRequested);
    services_.switchesItself = true;
    services_.toRestart = QStringList{"Firefox-esr", "Gedit"};
    ModelSettings quick = settings();
    quick.restartCheckDelay = std::chrono::milliseconds(0);
    MevrikModel model(services_, quick);
    QVERIFY(!model.accessibility());
    model.requestAccessibility();
    QVERIFY(model.accessibility());  // read again at once: step 1 shows done
    QCOMPARE(model.message(), on);
    QTRY_COMPARE(model.message(), on + text(t.restartApplications).arg("Firefox-esr、Gedit"));
    services_.toRestart = QStringList();
    model.requestAccessibility();
    QTRY_COMPARE(model.message(), on + text(t.restartNone));
    services_.toRestart = std::nullopt;  // a session without a window list
    model.requestAccessibility();
    QTRY_COMPARE(model.message(), on + text(t.restartUnknown));
    // No accessibility bus: the switch does not take, and the user is told.
    services_.trusted = false;
    services_.switchTakes = false;
    model.requestAccessibility();
    QVERIFY(!model.accessibility());
    QCOMPARE(model.message(), text(t.accessibilityFailed));
    QTest::qWait(50);
    QCOMPARE(model.message(), text(t.accessibilityFailed));
    // GNOME Wayland: the extension is in place and runs from the next login.
    services_.newLoginNeeded = true;
    model.requestAccessibility();
    QVERIFY(!model.accessibility());
    QCOMPARE(model.message(), text(t.logInAgain));
  }

  void asksBeforeTheFirstLaunchSwitchesTheDesktop() {
    services_.switchesItself = true;
    MevrikModel model(services_, settings());
    QSignalSpy asked(&model, &MevrikModel::accessibilityConsentRequested);
    model.requestAccessibilityOnFirstLaunch();
    QVERIFY(services_.bools.value("didRequestAccessibilityOnFirstLaunch"));
    QTRY_COMPARE(asked.count(), 1);
    QCOMPARE(services_.prompts, 0);  // nothing is switched without an answer
    QCOMPARE(model.message(), QStringLiteral("上から順番に設定してください。"));
  }

  void promptsOnceOnTheFirstLaunchAfterADelay() {
    const QString key = "didRequestAccessibilityOnFirstLaunch";
    MevrikModel model(services_, settings());
    QElapsedTimer clock;
    clock.start();
    model.requestAccessibilityOnFirstLaunch();
    QCOMPARE(services_.bools.value(key), true);  // stored before anything is shown
    QCOMPARE(services_.prompts, 0);
    QTRY_COMPARE_WITH_TIMEOUT(services_.prompts, 1, 3000);
    QVERIFY2(clock.elapsed() >= 100, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(model.message(), text(platformTexts().accessibilityRequested));
    // The next launch does not prompt by itself.
    MevrikModel second(services_, settings());
    second.requestAccessibilityOnFirstLaunch();
    QTest::qWait(300);
    QCOMPARE(services_.prompts, 1);
    QCOMPARE(second.message(), QStringLiteral("上から順番に設定してください。"));
  }

  void noFirstLaunchPromptWhenTrustedOrGone() {
    services_.trusted = true;
    {
      MevrikModel model(services_, settings());
      model.requestAccessibilityOnFirstLaunch();
      QVERIFY(!services_.bools.contains("didRequestAccessibilityOnFirstLaunch"));
    }
    services_.trusted = false;
    {
      MevrikModel model(services_, settings());
      model.requestAccessibilityOnFirstLaunch();
    }  // gone before the prompt is due
    QTest::qWait(300);
    QCOMPARE(services_.prompts, 0);
    QCOMPARE(services_.bools.value("didRequestAccessibilityOnFirstLaunch"), true);
  }

  void registersTheLoginItemOnlyWhenNotRegistered() {
    MevrikModel model(services_, settings());
    QSignalSpy willChange(&model, &MevrikModel::objectWillChange);
    services_.loginRegistrationSucceeds = false;
    model.enableLaunchAtLogin();
    model.enableLaunchAtLogin();  // refused: tried again, silently
    QCOMPARE(services_.loginRegistrations, 2);
    QCOMPARE(willChange.count(), 0);
    services_.loginRegistrationSucceeds = true;
    model.enableLaunchAtLogin();
    QCOMPARE(services_.loginStatus, LoginItemStatus::kEnabled);
    model.enableLaunchAtLogin();
    services_.loginStatus = LoginItemStatus::kDisabledByUser;
    model.enableLaunchAtLogin();
    QCOMPARE(services_.loginRegistrations, 3);
  }

  void downloadWithoutAnUpdateDoesNothing() {
    MevrikModel model(services_, settings());
    model.downloadUpdate();
    QVERIFY(services_.openedUrls.isEmpty());
  }
};

}  // namespace setup

QTEST_GUILESS_MAIN(setup::MevrikModelTest)
#include "mevrik_model_test.moc"
