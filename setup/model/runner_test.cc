#include "setup/model/runner.h"

#include <QTemporaryDir>
#include <QTest>

#include "setup/model/test_files.h"

namespace setup {

class RunnerTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

  // Writes an executable shell script into the temporary folder and returns its path.
  QString script(const QString& name, const QByteArray& body) {
    writeFile(dir_.filePath(name), "#!/bin/sh\n" + body, true);
    return dir_.filePath(name);
  }

  RunResult runScript(const QByteArray& body, const QStringList& arguments = {}) {
    return runToEnd(script(QStringLiteral("child.sh"), body), arguments,
                    QProcessEnvironment::systemEnvironment());
  }

 private slots:
  void keepsTheOrderOfBothStreams() {
    const RunResult result =
        runScript("printf 'one\\n' >&2; printf 'two\\n'; printf 'three' >&2\n");
    QVERIFY(result.ok);
    QCOMPARE(result.output, QStringLiteral("one\ntwo\nthree"));
  }

  void passesEachArgumentWhole() {
    const RunResult result = runScript("printf '[%s]' \"$@\"\n", {"a b", "", "c"});
    QCOMPARE(result.output, QStringLiteral("[a b][][c]"));
  }

  void drainsOutputLargerThanAPipe() {
    // A megabyte on each stream: the child would block for ever if nobody read while it ran.
    const RunResult result = runScript(
        "head -c 1048576 /dev/zero | tr '\\0' x\n"
        "head -c 1048576 /dev/zero | tr '\\0' y >&2\n");
    QVERIFY(result.ok);
    QCOMPARE(result.output.size(), 2 * 1048576);
    QCOMPARE(result.output.count(u'x'), 1048576);
    QVERIFY(result.output.startsWith(u'x'));
    QVERIFY(result.output.endsWith(u'y'));
  }

  void emptyOutputIsAnEmptyText() {
    const RunResult result = runScript("exit 0\n");
    QVERIFY(result.ok);
    QCOMPARE(result.output, QString());
  }

  void decodesUtf8AndRejectsAnythingElse() {
    QCOMPARE(runScript("printf '\\343\\201\\202\\n'\n").output, QStringLiteral("あ\n"));
    // A stray byte, and a sequence cut off at the end, both whatever the exit status.
    RunResult result = runScript("printf 'ok \\377 ok'\n");
    QVERIFY(result.ok);
    QCOMPARE(result.output, QStringLiteral("Unknown error"));
    result = runScript("printf 'ab\\343\\201'; exit 4\n");
    QVERIFY(!result.ok);
    QCOMPARE(result.output, QStringLiteral("Unknown error"));
    // A UTF-8 encoded surrogate is not valid UTF-8 either.
    QCOMPARE(decodeOutput("\xed\xa0\x80"), QStringLiteral("Unknown error"));
    // Shown untouched: a leading byte-order mark stays.
    QCOMPARE(decodeOutput("\xef\xbb\xbfhi"), QStringLiteral("\uFEFFhi"));
  }

  void reportsExitStatusesAndSignals() {
    RunResult result = runScript("printf 'broken\\n'; exit 3\n");
    QVERIFY(!result.ok);
    QCOMPARE(result.output, QStringLiteral("broken\n"));
    // A child killed by a signal exits with no status; it is a failure with what it wrote.
    result = runScript("printf 'before'; kill -KILL $$\n");
    QVERIFY(!result.ok);
    QCOMPARE(result.output, QStringLiteral("before"));
  }

  void describesAChildThatCannotStart() {
    RunResult result =
        runToEnd(dir_.filePath("no-such-program"), {}, QProcessEnvironment::systemEnvironment());
    QVERIFY(!result.ok);
    QVERIFY2(result.output.contains(QStringLiteral("No such file or directory")),
             qPrintable(result.output));
    // A file without execute permission (refused even to root).
    const QString path = dir_.filePath("not-executable");
    writeFile(path, "#!/bin/sh\n");
    result = runToEnd(path, {}, QProcessEnvironment::systemEnvironment());
    QVERIFY(!result.ok);
    QVERIFY2(result.output.contains(QStringLiteral("Permission denied")),
             qPrintable(result.output));
  }

  void replacesTheUvEnvironmentOnly() {
    qputenv("UV_PROJECT_ENVIRONMENT", "/inherited/venv");
    qputenv("MEVRIK_RUNNER_PASSES", "through");
    const RunResult result = runToEnd(
        script("env.sh", "printf '%s|%s' \"$UV_PROJECT_ENVIRONMENT\" \"$MEVRIK_RUNNER_PASSES\"\n"),
        {}, productEnvironment(QStringLiteral("/home/u/.cache/com.fennick.mevrik/venv")));
    QCOMPARE(result.output, QStringLiteral("/home/u/.cache/com.fennick.mevrik/venv|through"));
  }
};

}  // namespace setup

QTEST_GUILESS_MAIN(setup::RunnerTest)
#include "runner_test.moc"
