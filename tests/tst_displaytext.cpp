#include <QTest>

class tst_displaytext : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(tst_displaytext)
#include "tst_displaytext.moc"
