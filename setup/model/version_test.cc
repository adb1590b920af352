#include "setup/model/version.h"

#include <QTest>

namespace setup {

class VersionTest : public QObject {
  Q_OBJECT

 private slots:
  void ordersDigitRunsByValue_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");  // sign of a compared with b
    QTest::newRow("minor 10 over 9") << "1.10"
                                     << "1.9" << 1;
    QTest::newRow("1.10.0 over 1.9.9") << "1.10.0"
                                       << "1.9.9" << 1;
    QTest::newRow("2.0 over 1.99") << "2.0"
                                   << "1.99" << 1;
    QTest::newRow("longer with patch") << "1.2.1"
                                       << "1.2" << 1;
    QTest::newRow("trailing zero is longer") << "1.2.0"
                                             << "1.2" << 1;
    QTest::newRow("equal") << "1.2"
                           << "1.2" << 0;
    QTest::newRow("older") << "1.1.9"
                           << "1.2.0" << -1;
    QTest::newRow("empty is smallest") << ""
                                       << "0" << -1;
    QTest::newRow("both empty") << ""
                                << "" << 0;
    QTest::newRow("leading zeros have the same value") << "1.01"
                                                       << "1.1" << 0;
    QTest::newRow("leading zeros then a larger run") << "1.001"
                                                     << "1.2" << -1;
    QTest::newRow("letters by code unit, case-sensitive") << "1.0b"
                                                          << "1.0a" << 1;
    QTest::newRow("upper case sorts before lower") << "1.0A"
                                                   << "1.0a" << -1;
    QTest::newRow("a digit against a letter") << "1.0"
                                              << "1.a" << -1;
    // Runs far longer than any machine integer compare by length, then text.
    QTest::newRow("long runs") << "1.99999999999999999999999999999"
                               << "1.100000000000000000000000000000" << -1;
    QTest::newRow("long equal runs") << "123456789012345678901234567890"
                                     << "123456789012345678901234567890" << 0;
    QTest::newRow("same length, later digit decides") << "1.123456789012345678901"
                                                      << "1.123456789012345678900" << 1;
  }
  void ordersDigitRunsByValue() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    const auto order = compareVersions(a, b);
    const int sign = order < 0 ? -1 : order > 0 ? 1 : 0;
    QCOMPARE(sign, expected);
    // The comparison is antisymmetric.
    const auto reverse = compareVersions(b, a);
    QCOMPARE(reverse < 0 ? -1 : reverse > 0 ? 1 : 0, -expected);
  }
};

}  // namespace setup

QTEST_GUILESS_MAIN(setup::VersionTest)
#include "version_test.moc"
