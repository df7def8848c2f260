#include "viewer/gate/passwordhash.h"

#include <QTest>

class tst_PasswordHash : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheReferenceVectors_data();
    void matchesTheReferenceVectors();
    void aKeyThatCouldNotBeMadeMatchesNothing();
};

// Argon2id version 1.3, from the reference implementation's own tests.
void tst_PasswordHash::matchesTheReferenceVectors_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<uint>("passes");
    QTest::addColumn<QByteArray>("key");

    QTest::newRow("t=2 m=64MiB") << "password" << QByteArray("somesalt") << 2u
                                 << QByteArray(
                                        "09316115d5cf24ed5a15a31a3ba326e5cf32edc24702987c02b6566f61913cf7");
    QTest::newRow("t=1 m=64MiB") << "password" << QByteArray("somesalt") << 1u
                                 << QByteArray(
                                        "f6a5adc1ba723dddef9b5ac1d464e180fcd9dffc9d1cbf76cca2fed795d9ca98");
    QTest::newRow("other password")
        << "differentpassword" << QByteArray("somesalt") << 2u
        << QByteArray("0b84d652cf6b0c4beaef0dfe278ba6a80df6696281d7e0d2891b817d8c458fde");
    QTest::newRow("other salt") << "password" << QByteArray("diffsalt") << 2u
                                << QByteArray(
                                       "bdf32b05ccc42eb15d58fd19b1f856b113da1e9a5874fdcc544308565aa8141c");
}

void tst_PasswordHash::matchesTheReferenceVectors()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, salt);
    QFETCH(uint, passes);
    QFETCH(QByteArray, key);

    QCOMPARE(PasswordHash::derive(password, salt, {passes, 64 * 1024, 1}).toHex(), key);
}

void tst_PasswordHash::aKeyThatCouldNotBeMadeMatchesNothing()
{
    const QByteArray none =
        PasswordHash::derive(QStringLiteral("x"), QByteArray("somesalt"), {2, 1u << 31, 1});
    QVERIFY(none.isEmpty());
    QVERIFY(!PasswordHash::equalKeys(none, QByteArray()));
}

QTEST_GUILESS_MAIN(tst_PasswordHash)
#include "tst_passwordhash.moc"
