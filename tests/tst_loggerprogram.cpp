#include <QTest>

class tst_loggerprogram : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(tst_loggerprogram)
#include "tst_loggerprogram.moc"
