#include <QTest>

class tst_viewerform : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(tst_viewerform)
#include "tst_viewerform.moc"
