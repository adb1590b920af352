// The update check against a real HTTP server on 127.0.0.1.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "setup/model/mevrik_model.h"
#include "setup/model/test_http_server.h"
#include "setup/platform/fake_services.h"

namespace setup {
namespace {

const QString kFailed =
    QStringLiteral("アップデートを確認できませんでした。時間をおいて再度お試しください。");
const QString kInitial = QStringLiteral("上から順番に設定してください。");

QByteArray manifest(const QByteArray& version, const QByteArray& extra = {}) {
  return "{\"version\":\"" + version + "\",\"download_url\":\"https://dl.example.test/Mevrik-" +
         version + ".dmg\"" + extra + "}";
}

}  // namespace

class UpdateCheckTest : public QObject {
  Q_OBJECT

  FakeServices services_;
  std::unique_ptr<TestHttpServer> server_;

  ModelSettings settings() {
    ModelSettings settings;
    settings.serviceUrl = server_->url();
    settings.registrationGrace = std::chrono::milliseconds(0);
    return settings;
  }
  // Runs one check to its end.
  static void check(MevrikModel& model, bool showCurrentStatus) {
    QSignalSpy finished(&model, &MevrikModel::updateCheckFinished);
    model.checkForUpdates(showCurrentStatus);
    QVERIFY(finished.wait(15000));
  }
  void serve(const QByteArray& body, int status = 200) {
    server_->respondWith({status, "application/json", body, false, 0});
  }
  // Whether a check of `body` ends in the failure outcome.
  bool rejects(const QByteArray& body) {
    serve(body);
    MevrikModel model(services_, settings());
    check(model, true);
    return model.message() == kFailed && !model.availableUpdateVersion();
  }

 private slots:
  void init() {
    services_ = FakeServices();
    services_.home = QStringLiteral("/nonexistent-home");
    services_.version = QStringLiteral("1.1.9");
    services_.windowIdentifiers = {QStringLiteral("setup")};
    server_ = std::make_unique<TestHttpServer>();
    QVERIFY(server_->listen());
  }

  void offersANewerVersionAndComesForwardOnce() {
    serve(manifest("1.2.0", ",\"notes\":\"Faster clicks.\""));
    MevrikModel model(services_, settings());
    QSignalSpy willChange(&model, &MevrikModel::objectWillChange);
    check(model, true);
    QCOMPARE(server_->requests().size(), 1);
    QCOMPARE(server_->requests()[0].method, QByteArray("GET"));
    QCOMPARE(server_->requests()[0].path, QByteArray("/latest.json"));
    QCOMPARE(model.availableUpdateVersion(), std::optional<QString>("1.2.0"));
    QCOMPARE(model.availableUpdateURL(),
             std::optional<QUrl>(QUrl("https://dl.example.test/Mevrik-1.2.0.dmg")));
    QCOMPARE(model.availableUpdateNotes(), std::optional<QString>("Faster clicks."));
    QCOMPARE(model.message(), kInitial);  // not touched when an update is found
    QCOMPARE(willChange.count(), 3);
    QCOMPARE(services_.strings.value("lastPresentedUpdateVersion"), QStringLiteral("1.2.0"));
    QCOMPARE(services_.activations, 1);
    QCOMPARE(services_.broughtForward, QStringList{"setup|Mevrik by Fennick"});

    check(model, false);  // written again, but the window stays where it is
    QCOMPARE(willChange.count(), 6);
    QCOMPARE(services_.activations, 1);
  }

  void anUpToDateVersionIsReportedOnlyOnRequest() {
    serve(manifest("1.1.9"));
    MevrikModel model(services_, settings());
    QSignalSpy willChange(&model, &MevrikModel::objectWillChange);
    check(model, false);
    QCOMPARE(willChange.count(), 0);
    check(model, true);
    QCOMPARE(model.message(), QStringLiteral("最新版（バージョン1.1.9）を使用しています。"));
    QVERIFY(!model.availableUpdateVersion());
  }

  void anOlderManifestKeepsTheEarlierUpdate() {
    serve(manifest("1.3"));
    MevrikModel model(services_, settings());
    check(model, false);
    serve(manifest("1.0"));
    check(model, true);
    QCOMPARE(model.availableUpdateVersion(), std::optional<QString>("1.3"));
    QCOMPARE(model.message(), QStringLiteral("最新版（バージョン1.1.9）を使用しています。"));
  }

  void comparesVersionsNumerically() {  // the rules themselves: version_test
    services_.version = QStringLiteral("1.9");
    serve(manifest("1.10"));
    MevrikModel model(services_, settings());
    check(model, false);
    QCOMPARE(model.availableUpdateVersion(), std::optional<QString>("1.10"));
  }

  void withoutAnApplicationVersionAnyReleaseIsNewer() {
    services_.version = std::nullopt;
    services_.windowIdentifiers.clear();  // the window is closed: activation only
    serve(manifest("0.1"));
    MevrikModel model(services_, settings());
    check(model, false);
    QCOMPARE(model.availableUpdateVersion(), std::optional<QString>("0.1"));
    QCOMPARE(services_.activations, 1);
    QVERIFY(services_.broughtForward.isEmpty());
  }

  void notesAreOptional() {
    for (const QByteArray& extra : {QByteArray(), QByteArray(",\"notes\":null")}) {
      serve(manifest("2.0", extra));
      MevrikModel model(services_, settings());
      check(model, false);
      QCOMPARE(model.availableUpdateVersion(), std::optional<QString>("2.0"));
      QVERIFY(!model.availableUpdateNotes());
    }
  }

  void rejectsWhatIsNotAManifestWithAWebLink() {
    for (const QByteArray& body :
         {QByteArray("{\"version\":1.3,\"download_url\":\"https://dl.example.test/m.dmg\"}"),
          QByteArray("{\"version\":\"2.0\"}"),
          QByteArray("{\"version\":\"2.0\",\"download_url\":42}"), manifest("2.0", ",\"notes\":7"),
          QByteArray("[\"2.0\"]"), QByteArray("version=2.0"), QByteArray(),
          manifest("2.0") + "trailing"})
      QVERIFY2(rejects(body), body.constData());
    // The link is handed to the system to open, so only web addresses may come from the network.
    for (const char* link :
         {"file:///etc/passwd", "javascript:alert(1)", "codex://plugins/x", "/relative/path",
          "https://", "http://exa mple.test/m.dmg", "smb://host/share"}) {
      QVERIFY2(rejects("{\"version\":\"2.0\",\"download_url\":\"" + QByteArray(link) + "\"}"),
               link);
    }
    serve("{\"version\":\"2.0\",\"download_url\":\"HTTP://dl.example.test/m.dmg\"}");
    MevrikModel model(services_, settings());
    check(model, false);
    QCOMPARE(model.availableUpdateVersion(), std::optional<QString>("2.0"));
  }

  void theStatusCodeIsNotExamined() {
    server_->respondWith({404, "text/html", "<html><body>Not Found</body></html>", false, 0});
    {
      MevrikModel model(services_, settings());
      check(model, true);
      QCOMPARE(model.message(), kFailed);
    }
    serve(manifest("2.0"), 500);
    MevrikModel model(services_, settings());
    check(model, false);
    QCOMPARE(model.availableUpdateVersion(), std::optional<QString>("2.0"));
  }

  void networkFailuresAreSilentUnlessAskedFor() {
    ModelSettings s = settings();
    s.serviceUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    MevrikModel model(services_, s);
    QSignalSpy willChange(&model, &MevrikModel::objectWillChange);
    check(model, false);
    QCOMPARE(willChange.count(), 0);
    check(model, true);
    QCOMPARE(model.message(), kFailed);
  }

  void aServerThatNeverAnswersTimesOut() {
    QCOMPARE(defaultModelSettings().requestTimeout, std::chrono::seconds(10));
    server_->respondWith({200, "application/json", {}, true, 0});
    ModelSettings s = settings();
    s.requestTimeout = std::chrono::milliseconds(400);
    MevrikModel model(services_, s);
    QElapsedTimer clock;
    clock.start();
    check(model, true);
    // Qt runs this timer coarsely (within 5%).
    QVERIFY2(clock.elapsed() >= 360, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(model.message(), kFailed);
  }

  void anAnswerForAModelThatIsGoneIsDropped() {
    server_->respondWith({200, "application/json", manifest("9.0"), false, 200});
    {
      MevrikModel model(services_, settings());
      model.checkForUpdates(true);
      QTRY_COMPARE(server_->requests().size(), 1);
    }
    QTest::qWait(400);
    QCOMPARE(services_.activations, 0);
    QVERIFY(!services_.strings.contains("lastPresentedUpdateVersion"));
  }
};

}  // namespace setup

QTEST_GUILESS_MAIN(setup::UpdateCheckTest)
#include "update_check_test.moc"
