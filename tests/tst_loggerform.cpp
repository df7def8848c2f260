#include "logger/form1.h"
#include "runtime/startup.h"
#include "logger/textbox.h"
#include "tests/screenshot.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
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
    void layout_data();
    void layout();
    void windowAndStacking();
    void captions_data();
    void captions();
    void oneAccessPerStartHoweverOftenShownOrActivated();
    void closesByItself();
    void longUpdateStillRecordsBeforeClosing();
    void failedUpdateClosesWithoutTouchingAnything();
    void photographAtScreenScale();

private:
    QByteArray readLog() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_log;
    QString m_recorder;
    const QByteArray m_earlier = "#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n";
};

void tst_LoggerForm::initTestCase()
{
    Runtime::identify(*qApp, QStringLiteral("Tallix"), QStringLiteral("tallix"), QStringLiteral("io.github.tallix.Tallix"));
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
}

void tst_LoggerForm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_log = m_dir->filePath(QStringLiteral("Date.txt"));
    // The recorder writes the Date.txt of its own folder.
    m_recorder = m_dir->filePath(QStringLiteral("tallix-record"));
    QVERIFY(QFile::copy(QStringLiteral(TALLIX_RECORDER), m_recorder));
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
    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
    form.findChild<QTimer *>("Timer1")->stop();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    VERIFY_SCREENSHOT(form.grab().toImage(), "logger-form1");
}

void tst_LoggerForm::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("hidden");

    QTest::newRow("Text1") << "Text1" << QRect(32, 0, 145, 19) << true;
    QTest::newRow("Line6") << "Line6" << QRect(208, 7, 24, 18) << false;
    QTest::newRow("Line5") << "Line5" << QRect(216, 24, 8, 1) << false;
    QTest::newRow("Line4") << "Line4" << QRect(216, 24, 8, 1) << false;
    QTest::newRow("Line3") << "Line3" << QRect(216, 24, 8, 1) << false;
    QTest::newRow("Label3") << "Label3" << QRect(0, 88, 33, 17) << false;
    QTest::newRow("Label2") << "Label2" << QRect(8, 0, 121, 49) << false;
    QTest::newRow("Label1") << "Label1" << QRect(0, 0, 129, 49) << false;
    QTest::newRow("Line2") << "Line2" << QRect(88, 24, 1, 80) << false;
    QTest::newRow("Line1") << "Line1" << QRect(88, 24, 136, 1) << false;
    QTest::newRow("Image1") << "Image1" << QRect(88, 24, 141, 82) << false;
}

void tst_LoggerForm::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(bool, hidden);

    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
    auto *control = form.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->isHidden(), hidden);
}

void tst_LoggerForm::windowAndStacking()
{
    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
    QCOMPARE(form.windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(form.size(), QSize(226, 101));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.palette().color(QPalette::Window), QColor(0, 0, 0));
    const auto *photo = form.findChild<QLabel *>("Image1");
    QCOMPARE(photo->pixmap().size(), QSize(141, 82));
    QVERIFY(!QImage(QStringLiteral(":/pictures/eye-photo.png")).hasAlphaChannel());
    QVERIFY(!photo->hasScaledContents());

    // Top first: the captions and lines are drawn over the photograph.
    QStringList stacked;
    for (const QObject *child : form.children()) {
        if (child->isWidgetType())
            stacked.prepend(child->objectName());
    }
    QCOMPARE(stacked, (QStringList{"Text1", "Line6", "Line5", "Line4", "Line3", "Label3", "Label2",
                                   "Label1", "Line2", "Line1", "Image1"}));
}

void tst_LoggerForm::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<QString>("face");

    QTest::newRow("Label3") << "Label3" << " V-1.0" << QColor(192, 0, 0) << 8.25 << "Liberation Serif";
    QTest::newRow("Label2") << "Label2" << "Tallix" << QColor(255, 128, 255) << 24.0 << "Leckerli One";
    QTest::newRow("Label1") << "Label1" << "Tallix" << QColor(128, 0, 128) << 24.0 << "Leckerli One";
}

void tst_LoggerForm::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    QFETCH(qreal, points);
    QFETCH(QString, face);

    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
    auto *label = form.findChild<QLabel *>(name);
    QVERIFY(label);
    label->ensurePolished();
    QCOMPARE(label->text(), text);
    QCOMPARE(label->palette().color(QPalette::WindowText), colour);
    QVERIFY(!label->autoFillBackground());
    QCOMPARE(label->font().pointSizeF(), points);
    QVERIFY(label->font().bold());
    QCOMPARE(QFontInfo(label->font()).family(), face);
}

void tst_LoggerForm::oneAccessPerStartHoweverOftenShownOrActivated()
{
    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int i = 0; i < 3; ++i) {
        QApplication::sendEvent(&form, new QEvent(QEvent::WindowActivate));
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
    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
    const auto *timer = form.findChild<QTimer *>("Timer1");
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->intervalAsDuration(), std::chrono::milliseconds(1100));
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 5000);
    QCOMPARE(readLog().count('\n'), m_earlier.count('\n') + 1);
}

void tst_LoggerForm::longUpdateStillRecordsBeforeClosing()
{
    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
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
    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
    form.show();
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(!form.findChild<QTimer *>("Timer1")->isActive());
    QVERIFY(form.Text1()->text().isEmpty());
    QVERIFY(!QFile::exists(m_log));
}

// Run at scale 1 and, as its own test, at scale 2.
void tst_LoggerForm::photographAtScreenScale()
{
    const int ratio = int(qApp->devicePixelRatio());
    QVERIFY(ratio == 1 || ratio == qEnvironmentVariableIntValue("QT_SCALE_FACTOR"));
    Logger::Form1 form(AccessRecorder::Via::Program, m_recorder);
    auto *photo = form.findChild<QLabel *>("Image1");
    const QImage expected(ratio == 2 ? QStringLiteral(":/pictures/eye-photo@2x.png")
                                     : QStringLiteral(":/pictures/eye-photo.png"));
    QCOMPARE(photo->size(), QSize(141, 82));
    const QImage shot = photo->grab().toImage();
    QCOMPARE(shot.size(), QSize(141, 82) * ratio);
    QCOMPARE(shot.convertToFormat(expected.format()), expected);
}

QTEST_MAIN(tst_LoggerForm)
#include "tst_loggerform.moc"
