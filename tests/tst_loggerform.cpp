#include "logger/form1.h"
#include "logger/textbox.h"
#include "startup/startup.h"
#include "tests/screenshot.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class tst_LoggerForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void screenshot();
    void window();
    void captions_data();
    void captions();
    void oneAccessPerStartHoweverOftenShownOrActivated();
    void closesByItself();
    void longUpdateStillRecordsBeforeClosing();
    void failedUpdateClosesWithoutTouchingAnything();
    void photographAtDoubleScale();

private:
    QByteArray readLog() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_log;
    const QByteArray m_earlier = "#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n";
};

void tst_LoggerForm::initTestCase()
{
    Runtime::identify(*qApp, QStringLiteral("Tallix"), QStringLiteral("tallix"),
                      QStringLiteral("io.github.tallix.Tallix"));
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
}

void tst_LoggerForm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_log = m_dir->filePath(QStringLiteral("Date.txt"));
    QFile file(m_log);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(m_earlier);
}

QByteArray tst_LoggerForm::readLog() const
{
    QFile file(m_log);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The card as shown for its second, held open; the listing stays hidden
// whatever the log holds.
void tst_LoggerForm::screenshot()
{
    Logger::Form1 form(AccessRecorder::Via::InProcess, m_log);
    form.findChild<QTimer *>("Timer1")->stop();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    VERIFY_SCREENSHOT(form.grab().toImage(), "logger-form1");
}

void tst_LoggerForm::window()
{
    Logger::Form1 form(AccessRecorder::Via::InProcess, m_log);
    QCOMPARE(form.windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(form.minimumSize(), form.maximumSize());
}

void tst_LoggerForm::captions_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("Label3") << " V-1.0";
    QTest::newRow("Label2") << "Tallix";
    QTest::newRow("Label1") << "Tallix";
}

void tst_LoggerForm::captions()
{
    QFETCH(QString, text);

    Logger::Form1 form(AccessRecorder::Via::InProcess, m_log);
    auto *label = form.findChild<QLabel *>(QLatin1String(QTest::currentDataTag()));
    QVERIFY(label);
    QCOMPARE(label->text(), text);
}

void tst_LoggerForm::oneAccessPerStartHoweverOftenShownOrActivated()
{
    Logger::Form1 form(AccessRecorder::Via::InProcess, m_log);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int i = 0; i < 3; ++i) {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&form, &activate);
        form.hide();
        form.show();
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(readLog().size() > m_earlier.size());
    QCoreApplication::processEvents();

    const QList<QByteArray> lines = readLog().split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(readLog().startsWith(m_earlier));
    QCOMPARE(form.Text1()->text(), QStringLiteral("02/02/02 17:41:51\r\n03/02/02\r\n"));
}

void tst_LoggerForm::closesByItself()
{
    Logger::Form1 form(AccessRecorder::Via::InProcess, m_log);
    const auto *timer = form.findChild<QTimer *>("Timer1");
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->intervalAsDuration(), std::chrono::milliseconds(1100));
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 5000);
    QCOMPARE(readLog().count('\n'), m_earlier.count('\n') + 1);
}

void tst_LoggerForm::longUpdateStillRecordsBeforeClosing()
{
    Logger::Form1 form(AccessRecorder::Via::InProcess, m_log);
    form.show();
    // Events wait while the program is busy, as they would behind a slow update:
    // the due tick must not close the card before the access is recorded.
    QThread::msleep(1300);
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 5000);
    QCOMPARE(readLog().count('\n'), m_earlier.count('\n') + 1);
}

void tst_LoggerForm::failedUpdateClosesWithoutTouchingAnything()
{
    QFile::remove(m_log);
    Logger::Form1 form(AccessRecorder::Via::InProcess, m_log);
    form.show();
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(!form.findChild<QTimer *>("Timer1")->isActive());
    QVERIFY(form.Text1()->text().isEmpty());
    QVERIFY(!QFile::exists(m_log));
}

// Run as its own test at scale 2, where the photograph must be its @2x
// twin, not the 1x one blown up; scale 1 is the screenshot's.
void tst_LoggerForm::photographAtDoubleScale()
{
    if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        QSKIP("run by loggerform_at_scale_2");
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    Logger::Form1 form(AccessRecorder::Via::InProcess, m_log);
    const QImage expected(QStringLiteral(":/pictures/eye-photo@2x.png"));
    const QImage shot = form.findChild<QLabel *>("Image1")->grab().toImage();
    QCOMPARE(shot.size(), QSize(141, 82) * 2);
    QCOMPARE(shot.convertToFormat(expected.format()), expected);
}

QTEST_MAIN(tst_LoggerForm)
#include "tst_loggerform.moc"
