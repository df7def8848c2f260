#include <QTest>

class tst_loggerform : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(tst_loggerform)
#include "tst_loggerform.moc"
