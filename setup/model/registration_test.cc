// The installation identifier file and the registration request, against a real HTTP server.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "setup/model/installation_id.h"
#include "setup/model/mevrik_model.h"
#include "setup/model/test_files.h"
#include "setup/model/test_http_server.h"
#include "setup/platform/fake_services.h"

namespace setup {

class RegistrationTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> dir_;
  FakeServices services_;
  std::unique_ptr<TestHttpServer> server_;

  QString idFile() const { return services_.data + "/Mevrik/installation-id"; }
  ModelSettings settings() {
    ModelSettings settings;
    settings.serviceUrl = server_->url();
    settings.registrationGrace = std::chrono::milliseconds(2000);
    return settings;
  }
  // Registers once and returns the body the server received.
  QJsonObject registerOnce() {
    MevrikModel model(services_, settings());
    const qsizetype before = server_->requests().size();
    model.registerInstallation();
    if (!QTest::qWaitFor([&] { return server_->requests().size() > before; }, 10000)) return {};
    const ReceivedRequest& request = server_->requests().last();
    if (request.method != "POST" || request.path != "/api/installations" ||
        request.header("Content-Type") != "application/json") {
      qWarning("unexpected request %s %s", request.method.constData(), request.path.constData());
      return {};
    }
    return QJsonDocument::fromJson(request.body).object();
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    services_ = FakeServices();
    services_.home = dir_->filePath("home");
    services_.data = dir_->filePath("home/.local/share");
    server_ = std::make_unique<TestHttpServer>();
    QVERIFY(server_->listen());
  }

  void aFreshAccountGetsAStoredIdentifier() {
    const QJsonObject body = registerOnce();
    const QByteArray stored = readFile(idFile());
    QCOMPARE(stored.size(), 36);
    QVERIFY(isCanonicalUuid(QString::fromLatin1(stored)));
    QCOMPARE(stored, stored.toLower());
    QCOMPARE(body.value("installation_id").toString(), QString::fromLatin1(stored));
    QCOMPARE(body.value("version").toString(), QStringLiteral("1.0.0"));
    QCOMPARE(body.value("platform").toString(), QStringLiteral(MEVRIK_PLATFORM_NAME));
    QCOMPARE(body.size(), 3);
    // Compact JSON: no white space at all.
    const QByteArray raw = server_->requests().last().body;
    QVERIFY2(!raw.contains(' ') && !raw.contains('\n'), raw.constData());

    // The next showing sends the same identifier and leaves the file alone.
    QCOMPARE(registerOnce().value("installation_id").toString(), QString::fromLatin1(stored));
    QCOMPARE(readFile(idFile()), stored);
  }

  void anUpperCaseIdentifierIsSentInLowerCaseAndKept() {
    const QByteArray upper = "0F8FAD5B-D9CB-469F-A165-70867728950E\n";
    writeFile(idFile(), upper);
    QCOMPARE(registerOnce().value("installation_id").toString(),
             QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"));
    QCOMPARE(readFile(idFile()), upper);
  }

  void anythingElseIsReplaced() {
    for (const QByteArray& content :
         {QByteArray("hello"), QByteArray("0f8fad5b-d9cb-469f-a165-70867728950e\n# comment"),
          QByteArray("{0f8fad5b-d9cb-469f-a165-70867728950e}"), QByteArray("\xff\xfe"),
          QByteArray("0f8fad5b-d9cb-469f-a165-70867728950g")}) {
      writeFile(idFile(), content);
      const QString sent = registerOnce().value("installation_id").toString();
      QVERIFY(isCanonicalUuid(sent));
      QCOMPARE(readFile(idFile()), sent.toLatin1());
    }
  }

  void aMissingVersionIsUnknown() {
    services_.version = std::nullopt;
    QCOMPARE(registerOnce().value("version").toString(), QStringLiteral("unknown"));
  }

  void nothingIsSentWithoutAStoredIdentifier() {
    // A regular file where the data folder should be: the folder cannot be made (even as root).
    writeFile(services_.data, "not a folder");
    MevrikModel model(services_, settings());
    QSignalSpy willChange(&model, &MevrikModel::objectWillChange);
    model.registerInstallation();
    QTest::qWait(300);
    QVERIFY(server_->requests().isEmpty());
    QCOMPARE(willChange.count(), 0);
    QVERIFY(!loadOrCreateInstallationId(services_.data + "/Mevrik"));
  }

  void anUnreachableServiceChangesNothing() {
    ModelSettings s = settings();
    s.serviceUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    MevrikModel model(services_, s);
    QSignalSpy willChange(&model, &MevrikModel::objectWillChange);
    model.registerInstallation();
    QTest::qWait(200);
    QCOMPARE(willChange.count(), 0);
  }

  void quittingWaitsOnceWithinTheGraceAndTheDestructorNotAtAll() {
    // A service that never answers: quitting waits the grace once (not once per quit, nor again
    // in the destructor), and the destructor runs no event loop (a posted call stays queued).
    server_->respondWith({200, "application/json", {}, true, 0});
    const qint64 grace = 1000;
    bool delivered = false;
    QObject receiver;  // declared after `delivered`, so a call still queued dies first
    QElapsedTimer clock;
    qint64 quitTook = 0;
    {
      ModelSettings s = settings();
      s.registrationGrace = std::chrono::milliseconds(grace);
      MevrikModel model(services_, s);
      const qsizetype before = server_->requests().size();
      model.registerInstallation();
      QTRY_COMPARE(server_->requests().size(), before + 1);
      clock.start();
      for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
      }
      quitTook = clock.elapsed();
      QMetaObject::invokeMethod(
          &receiver, [&] { delivered = true; }, Qt::QueuedConnection);
      clock.restart();
    }
    QVERIFY2(quitTook >= grace - 50 && quitTook < 2 * grace, qPrintable(QString::number(quitTook)));
    QVERIFY2(clock.elapsed() < grace / 2, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!delivered);
    QTRY_VERIFY(delivered);
  }

  void quittingWaitsForARegistration() {
    server_->respondWith({200, "application/json", "{}", false, 200});
    MevrikModel model(services_, settings());
    model.registerInstallation();
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();  // quits at once; aboutToQuit lets the request finish first
    QCOMPARE(server_->requests().size(), 1);
  }
};

}  // namespace setup

QTEST_GUILESS_MAIN(setup::RegistrationTest)
#include "registration_test.moc"
