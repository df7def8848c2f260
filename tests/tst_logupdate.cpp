#include <QTest>

class tst_logupdate : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(tst_logupdate)
#include "tst_logupdate.moc"
