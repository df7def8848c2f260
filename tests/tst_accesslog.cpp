#include <QTest>

class tst_accesslog : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(tst_accesslog)
#include "tst_accesslog.moc"
