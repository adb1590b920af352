// The panel, the step cards, the dialog and the application, offscreen, on a real model with
// fake services, a local HTTP server and a product folder of fake scripts.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "setup/model/mevrik_model.h"
#include "setup/model/platform_texts.h"
#include "setup/model/test_files.h"
#include "setup/model/test_http_server.h"
#include "setup/platform/fake_services.h"
#include "setup/ui/mevrik_app.h"
#include "setup/ui/mevrik_panel.h"
#include "setup/ui/uninstall_dialog.h"

namespace setup {
namespace {

// The texts a user sees in `root`: visible labels and buttons, in creation order.
QStringList visibleTexts(const QWidget& root) {
  QStringList texts;
  for (const QWidget* w : root.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&root)) continue;
    if (const auto* label = qobject_cast<const QLabel*>(w); label && !label->text().isEmpty())
      texts << label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) texts << button->text();
  }
  return texts;
}

QAbstractButton* button(const QWidget& root, const QString& text) {
  for (QAbstractButton* b : root.findChildren<QAbstractButton*>()) {
    if (b->text() == text && b->isVisibleTo(&root)) return b;
  }
  return nullptr;
}

QAction* menuItem(MevrikPanel& panel, const QString& text) {
  for (QAction* action : panel.moreMenu()->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

}  // namespace

class UiTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> dir_;
  FakeServices services_;
  std::unique_ptr<TestHttpServer> server_;
  QString product_;

  ModelSettings settings() {
    ModelSettings settings;
    settings.serviceUrl = server_->url();
    settings.registrationGrace = std::chrono::milliseconds(0);
    return settings;
  }
  void serveVersion(const QByteArray& version, const QByteArray& extra = {}) {
    server_->respondWith({200, "application/json",
                          "{\"version\":\"" + version +
                              "\",\"download_url\":\"https://dl.example.test/m\"" + extra + "}",
                          false, 0});
  }
  void installPlugin() { QDir().mkpath(services_.home + "/.codex/plugins/cache/m/mevrik"); }
  // Scripts that record their arguments and print `output`, ending with `status`.
  void writeScripts(const QByteArray& output, int status) {
    const QByteArray body = "printf '%s\\n' \"$0\" \"$@\" >> \"" +
                            dir_->filePath("calls").toUtf8() + "\"\nprintf '" + output +
                            "'\nexit " + QByteArray::number(status) + "\n";
    writeFile(product_ + "/runtime/uv", "#!/bin/sh\n" + body, true);
    writeFile(product_ + "/scripts/doctor.sh", body, true);
  }
  QByteArray calls() const { return readFile(dir_->filePath("calls")); }
  static void waitForCheck(MevrikModel& model) {
    QSignalSpy finished(&model, &MevrikModel::updateCheckFinished);
    QVERIFY(finished.wait(10000));
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    services_ = FakeServices();
    services_.home = dir_->filePath("home");
    services_.cache = dir_->filePath("cache");
    services_.data = dir_->filePath("data");
    services_.resources = dir_->filePath("resources");
    product_ = *services_.resources + "/product";
    writeScripts("", 0);
    server_ = std::make_unique<TestHttpServer>();
    QVERIFY(server_->listen());
    serveVersion("0.0.1");
  }

  void showsTheStepsAsTheModelHasThem_data() {
    const QString step1 = text(platformTexts().accessibilityButton);
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("plugin");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("absent");
    QTest::newRow("both done") << true << true
                               << QStringList{"セットアップ完了", "CodexからMevrikを利用できます。",
                                              "完了", "Fennickサービスに接続済み"}
                               << QStringList{"未設定", step1, "Codexに追加する",
                                              "アップデートがあります"};
    QTest::newRow("permission missing")
        << false << true
        << QStringList{"あと1ステップで使えます", "上から順番にボタンを押してください。", step1,
                       "未設定", "完了"}
        << QStringList{"Codexに追加する"};
    QTest::newRow("both missing") << false << false
                                  << QStringList{"あと2ステップで使えます", step1,
                                                 "Codexに追加する"}
                                  << QStringList{"完了", "セットアップ完了"};
  }

  void showsTheStepsAsTheModelHasThem() {
    QFETCH(bool, trusted);
    QFETCH(bool, plugin);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, absent);
    services_.trusted = trusted;
    if (plugin) installPlugin();
    MevrikModel model(services_, settings());
    MevrikPanel panel(model);
    const QStringList texts = visibleTexts(panel);
    for (const QString& text : expected) QVERIFY2(texts.contains(text), qPrintable(text));
    for (const QString& text : absent) QVERIFY2(!texts.contains(text), qPrintable(text));
  }

  void showsTheUpdateBanner_data() {
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<QString>("shownVersion");
    QTest::addColumn<QString>("notes");
    QTest::newRow("notes") << QByteArray("2.0") << QByteArray(",\"notes\":\"速くなりました\"")
                           << "v2.0"
                           << "速くなりました";
    QTest::newRow("no notes") << QByteArray("2.0") << QByteArray() << "v2.0" << QString();
    QTest::newRow("empty notes") << QByteArray("2.0") << QByteArray(",\"notes\":\"\"") << "v2.0"
                                 << QString();
  }

  void showsTheUpdateBanner() {
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, extra);
    QFETCH(QString, shownVersion);
    QFETCH(QString, notes);
    serveVersion(version, extra);
    MevrikModel model(services_, settings());
    MevrikPanel panel(model);
    QVERIFY(!visibleTexts(panel).contains("アップデートがあります"));
    model.checkForUpdates(false);
    waitForCheck(model);
    const QStringList texts = visibleTexts(panel);
    QVERIFY(texts.contains("アップデートがあります"));
    QVERIFY(texts.contains(shownVersion));
    QCOMPARE(texts.contains("速くなりました"), !notes.isEmpty());
    button(panel, "アップデートをダウンロード")->click();
    QCOMPARE(services_.openedUrls, QList<QUrl>{QUrl("https://dl.example.test/m")});
  }

  void theButtonsCallTheirActions() {
    writeScripts("the script says no", 1);
    MevrikModel model(services_, settings());
    MevrikPanel panel(model);
    button(panel, text(platformTexts().accessibilityButton))->click();
    QCOMPARE(services_.prompts, 1);
    QVERIFY(visibleTexts(panel).contains(text(platformTexts().accessibilityRequested)));

    button(panel, "Codexに追加する")->click();
    QVERIFY(calls().contains("/scripts/install_codex.py"));
    QVERIFY(visibleTexts(panel).contains("the script says no"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);  // the busy cursor is gone again

    menuItem(panel, "接続チェックを実行")->trigger();
    QVERIFY(calls().contains("/scripts/doctor.sh"));

    const qsizetype before = server_->requests().size();
    menuItem(panel, "アップデートを確認")->trigger();
    waitForCheck(model);
    QCOMPARE(server_->requests().size(), before + 1);
    QVERIFY(visibleTexts(panel).contains("最新版（バージョン1.0.0）を使用しています。"));

    // "アプリを終了" ends the event loop.
    QTimer::singleShot(0, this, [&] { menuItem(panel, "アプリを終了")->trigger(); });
    QTimer::singleShot(5000, this, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
  }

  void aLongMessageMakesTheWindowTaller() {
    MevrikApp app(services_, settings());
    app.start();
    QWidget& window = *app.window();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize before = window.size();
    QCOMPARE(before.width(), 440);
    QCOMPARE(window.minimumSize(), window.maximumSize());  // the user cannot resize it

    writeScripts(QByteArray("とても長い出力です。").repeated(40), 1);
    button(window, "Codexに追加する")->click();
    QTRY_VERIFY(window.height() > before.height() + 40);
    QCOMPARE(window.width(), 440);
    // Every wrapped label gets the height it needs at the width it has.
    for (const QLabel* label : window.findChildren<QLabel*>()) {
      if (label->isVisible() && label->wordWrap())
        QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                 qPrintable(label->text().left(20)));
    }
  }

  void theDialogAsksBeforeUninstalling() {
    MevrikModel model(services_, settings());
    MevrikPanel first(model);
    MevrikPanel second(model);
    first.show();
    second.show();
    UninstallConfirmation& confirmation = UninstallConfirmation::of(model);
    const QString message = model.message();

    // Opened from either panel, there is one dialog; Escape and "キャンセル" remove nothing.
    menuItem(second, "アンインストール…")->trigger();
    QVERIFY(model.showUninstallConfirmation());
    QVERIFY(confirmation.dialog() && confirmation.dialog()->isVisible());
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.begin(), windows.end(),
                           [](QWidget* w) { return qobject_cast<QDialog*>(w) && w->isVisible(); }),
             1);
    QTest::keyClick(confirmation.dialog(), Qt::Key_Escape);
    QVERIFY(!model.showUninstallConfirmation());
    QTRY_VERIFY(!confirmation.dialog());

    menuItem(first, "アンインストール…")->trigger();
    QTest::keyClick(confirmation.dialog(), Qt::Key_Return);  // the focused default is "キャンセル"
    QVERIFY(!model.showUninstallConfirmation());
    QCOMPARE(model.message(), message);
    QVERIFY(calls().isEmpty());

    menuItem(first, "アンインストール…")->trigger();
    button(*confirmation.dialog(), "アンインストール")->click();
    QVERIFY(!model.showUninstallConfirmation());
    QVERIFY(calls().contains("/scripts/uninstall.py"));
    QCOMPARE(model.message(), "Codex連携を削除しました。アプリを終了してゴミ箱へ移動できます。");
  }

  void aShownPanelMakesTheLaunchCallsAndChecksPeriodically() {
    MevrikModel model(services_, settings());
    MevrikPanel panel(model, std::chrono::milliseconds(300));
    QSignalSpy checks(&model, &MevrikModel::updateCheckFinished);
    QCOMPARE(server_->requests().size(), 0);
    panel.show();
    // The registration and the update check (on two connections: either may arrive first), the
    // first-launch prompt and the login item.
    QTRY_COMPARE(server_->requests().size(), 2);
    QCOMPARE(QSet<QByteArray>({server_->requests()[0].path, server_->requests()[1].path}),
             QSet<QByteArray>({"/api/installations", "/latest.json"}));
    QCOMPARE(services_.loginRegistrations, 1);
    QVERIFY(services_.bools.value("didRequestAccessibilityOnFirstLaunch"));
    // The timer: further checks while shown, none once hidden.
    QTRY_VERIFY_WITH_TIMEOUT(checks.count() >= 3, 5000);
    panel.hide();
    QTest::qWait(50);
    const qsizetype afterHide = checks.count();
    QTest::qWait(700);
    QCOMPARE(checks.count(), afterHide);
    // Shown again: the launch calls again (the model's own rules keep them to once where due).
    const qsizetype requests = server_->requests().size();
    panel.show();
    QTRY_COMPARE(server_->requests().size(), requests + 2);
    QCOMPARE(services_.loginRegistrations, 1);
  }

  void activationRefreshesEachShownPanelOnce() {
    MevrikModel model(services_, settings());
    MevrikPanel first(model);
    MevrikPanel second(model);
    first.show();
    second.show();
    QSignalSpy refreshes(&model, &MevrikModel::accessibilityChanged);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(refreshes.count(), 2);
    second.hide();
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(refreshes.count(), 3);
  }

  void theApplicationMakesOneModelAndBringsItsWindowForward() {
    services_.windowIdentifiers = {"setup"};
    MevrikApp app(services_, settings());
    MevrikModel* model = &app.model();
    app.start();
    QVERIFY(app.window()->findChild<MevrikPanel*>());
    QTRY_COMPARE(services_.broughtForward, QStringList{"setup|Mevrik by Fennick"});
    QCOMPARE(services_.activations, 1);
    // Offscreen there is no tray: closing the window quits.
    QVERIFY(!app.trayIcon());
    QVERIFY(QApplication::quitOnLastWindowClosed());
    // The pop-up: a frameless window with a second panel on the same model, inside the screen.
    app.togglePopup();
    QWidget* popup = app.popup();
    QVERIFY(popup->isVisible() && popup->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(app.popupPanel() != app.windowPanel());
    QVERIFY(popup->screen()->availableGeometry().contains(popup->frameGeometry()));
    services_.trusted = true;
    installPlugin();
    model->refresh();
    QVERIFY(visibleTexts(*popup).contains("セットアップ完了"));
    QVERIFY(visibleTexts(*app.window()).contains("セットアップ完了"));
    app.togglePopup();
    QVERIFY(!popup->isVisible());
  }

  void aTrayGestureIsOneActivation() {
    MevrikApp app(services_, settings());
    app.start();
    const int doubleClick = QApplication::doubleClickInterval();
    // A double click as an XEmbed tray reports it, and as two clicks: the pop-up ends open.
    app.trayActivated(QSystemTrayIcon::Trigger);
    app.trayActivated(QSystemTrayIcon::DoubleClick);
    QVERIFY(app.popup()->isVisible());
    QTest::qWait(doubleClick + 50);
    app.trayActivated(QSystemTrayIcon::Trigger);
    app.trayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(app.popup()->isVisible());
    // A single click closes it; middle and context clicks do nothing.
    QTest::qWait(doubleClick + 50);
    app.trayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(!app.popup()->isVisible());
    app.trayActivated(QSystemTrayIcon::MiddleClick);
    app.trayActivated(QSystemTrayIcon::Context);
    QVERIFY(!app.popup()->isVisible());
  }

  void theFirstLaunchAsksBeforeSwitching() {
    const PlatformTexts& t = platformTexts();
    services_.switchesItself = true;
    ModelSettings quick = settings();
    quick.firstLaunchPromptDelay = std::chrono::milliseconds(10);
    {
      MevrikApp app(services_, quick);
      app.start();
      QTRY_VERIFY(app.consentDialog() && app.consentDialog()->isVisible());
      QVERIFY(visibleTexts(*app.consentDialog()).contains(text(t.consentTitle)));
      QTest::keyClick(app.consentDialog(), Qt::Key_Escape);  // declined
      QTRY_VERIFY(!app.consentDialog());
      QCOMPARE(services_.prompts, 0);
      QVERIFY(!app.model().accessibility());
    }
    services_.bools.clear();  // a first launch again, answered yes
    MevrikApp app(services_, quick);
    app.start();
    QTRY_VERIFY(app.consentDialog());
    button(*app.consentDialog(), text(t.consentAccept))->click();
    QCOMPARE(services_.prompts, 1);
    const QStringList texts = visibleTexts(*app.window());
    QVERIFY(texts.contains("あと1ステップで使えます"));
    QVERIFY(texts.contains("完了"));
    QVERIFY(texts.contains(text(t.accessibilityRequested)));
  }

  void placesThePopupInsideTheScreen_data() {
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<QPoint>("expected");
    const QRect top(1250, 0, 22, 26), bottom(600, 774, 22, 26);
    QTest::newRow("below a top tray, kept right") << top << QPoint() << QPoint(840, 30);
    QTest::newRow("above a bottom tray") << bottom << QPoint() << QPoint(390, 70);
    QTest::newRow("no geometry: at the pointer") << QRect() << QPoint(100, 200) << QPoint(0, 0);
    QTest::newRow("pointer low on screen") << QRect() << QPoint(640, 790) << QPoint(420, 86);
  }

  void placesThePopupInsideTheScreen() {
    QFETCH(QRect, anchor);
    QFETCH(QPoint, pointer);
    QFETCH(QPoint, expected);
    QCOMPARE(popupPosition(QSize(440, 700), anchor, pointer, QRect(0, 0, 1280, 800)), expected);
  }
};

}  // namespace setup

QTEST_MAIN(setup::UiTest)
#include "ui_test.moc"
