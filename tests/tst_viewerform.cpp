#include "startup/startup.h"
#include "tests/screenshot.h"
#include "viewer/form1.h"
#include "viewer/windowframe.h"

#include <QAccessible>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <functional>

using Viewer::Form1;

class tst_viewerform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void gate_data();
    void gate();
    void screenshot();
    void window();
    void captions_data();
    void captions();
    void blink();
    void shortcutOpensLog_data();
    void shortcutOpensLog();
    void closing_data();
    void closing();
    void readableByAScreenReader_data();
    void readableByAScreenReader();
    void screenReaderPressOpensLog();
    void failedOpenSaysWhatToInstall();
    void picturesAtDoubleScale();
    void ownTitleBarShowsTheWholeCaption();

private:
    // What the fake xdg-open, first on PATH, was asked to open.
    QStringList opened() const;

    QString m_password;
    QTemporaryDir m_bin;
};

namespace {

// getText() blocks until its dialog is answered, so the answer is given from
// the event loop once the dialog is up.
void whenModal(QObject *context, const std::function<void(QWidget *)> &act)
{
    QTimer::singleShot(10, context, [context, act] {
        if (QWidget *modal = QApplication::activeModalWidget())
            act(modal);
        else
            whenModal(context, act);
    });
}

template<typename T> T *child(const QWidget &form, const char *name)
{
    T *widget = form.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no %s named %s", T::staticMetaObject.className(), name);
    return widget;
}

bool showAndActivate(QWidget &window)
{
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

} // namespace

void tst_viewerform::initTestCase()
{
    // An opener that notes what it was given and exits as its status file says.
    QFile opener(m_bin.filePath(QStringLiteral("xdg-open")));
    QVERIFY(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >>\"${0%/*}/opened\"\n"
                 "exit \"$(cat \"${0%/*}/status\" 2>/dev/null || echo 0)\"\n");
    opener.close();
    QVERIFY(opener.setPermissions(opener.permissions() | QFile::ExeOwner));
    qputenv("PATH", QFile::encodeName(m_bin.path()) + ':' + qgetenv("PATH"));

    Runtime::identify(*qApp, Form1::Title, QStringLiteral("vistrel"),
                      QStringLiteral("io.github.tallix.Vistrel"));
    // Qt's own style, whatever the environment asks for: the screenshot's.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QFile passwordFile(qEnvironmentVariable("TALLIX_PASSWORD_FILE"));
    QVERIFY2(passwordFile.open(QIODevice::ReadOnly), "TALLIX_PASSWORD_FILE must name the build's password");
    m_password = QString::fromUtf8(passwordFile.readAll());
    QVERIFY(!m_password.isEmpty());
}

void tst_viewerform::cleanup()
{
    QFile::remove(m_bin.filePath(QStringLiteral("opened")));
    QFile::remove(m_bin.filePath(QStringLiteral("status")));
}

QStringList tst_viewerform::opened() const
{
    QFile file(m_bin.filePath(QStringLiteral("opened")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void tst_viewerform::gate_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("exact") << m_password << false << true;
    QTest::newRow("capitals") << m_password.toUpper() << false << false;
    QTest::newRow("leading space") << u' ' + m_password << false << false;
    QTest::newRow("trailing space") << m_password + u' ' << false << false;
    QTest::newRow("empty") << QString() << false << false;
    QTest::newRow("cancel with the right word") << m_password << true << false;
}

void tst_viewerform::gate()
{
    QFETCH(QString, answer);
    QFETCH(bool, cancel);
    QFETCH(bool, accepted);

    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QString title, label, initialText, cancelText;
    QLineEdit::EchoMode echo = QLineEdit::Normal;
    bool isInputDialog = false;
    whenModal(this, [&](QWidget *modal) {
        const auto *dialog = qobject_cast<QInputDialog *>(modal);
        isInputDialog = dialog != nullptr;
        title = modal->windowTitle();
        auto *field = modal->findChild<QLineEdit *>();
        if (dialog && field) {
            label = dialog->labelText();
            echo = field->echoMode();
            initialText = field->text();
            QTest::keyClicks(field, answer);
        }
        auto *buttons = modal->findChild<QDialogButtonBox *>();
        if (buttons) {
            cancelText = buttons->button(QDialogButtonBox::Cancel)->text();
            buttons->button(cancel ? QDialogButtonBox::Cancel : QDialogButtonBox::Ok)->click();
        } else
            modal->close();
    });

    QCOMPARE(form.Form_Load(), accepted);
    QVERIFY(isInputDialog);
    QCOMPARE(title, QStringLiteral("Tallix Vistrel"));
    QCOMPARE(label, QStringLiteral("Inserisci la password (in minuscolo)"));
    QCOMPARE(initialText, QString());
    QCOMPARE(echo, QLineEdit::Password);
    QCOMPARE(cancelText, QStringLiteral("Annulla"));
    const QWidgetList windows = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(windows.cbegin(), windows.cend(), [](QWidget *w) { return w->isVisible(); }));
}

// Shown and active, the eye open and held.
void tst_viewerform::screenshot()
{
    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    child<QTimer>(form, "Timer1")->stop();
    form.Timer1_Timer();
    // The shortcut's name is in the desktop's font; a fixed one draws it the
    // same on every machine.
    form.setFont(QFont(QStringLiteral("Liberation Sans"), 9));
    QVERIFY(showAndActivate(form));
    VERIFY_SCREENSHOT(form.grab().toImage(), "viewer-form1");
}

void tst_viewerform::window()
{
    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QVERIFY(showAndActivate(form));

    QCOMPARE(form.windowTitle(), QStringLiteral("Vistrel"));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QTRY_COMPARE(QApplication::focusWidget(), child<QPushButton>(form, "cmdChiudi"));

    const QCursor hand = child<QWidget>(form, "OLE1")->cursor();
    QCOMPARE(hand.shape(), Qt::BitmapCursor);
    QCOMPARE(hand.pixmap().size(), QSize(32, 32));
    QCOMPARE(hand.hotSpot(), QPoint(12, 1));
    const QCursor computer = child<QWidget>(form, "Label1")->cursor();
    QCOMPARE(computer.shape(), Qt::BitmapCursor);
    QCOMPARE(computer.pixmap().size(), QSize(32, 32));
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(computer.pixmap().toImage() != hand.pixmap().toImage());
}

void tst_viewerform::captions_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("cmdChiudi") << "&Chiudi";
    QTest::newRow("Label2") << "     Doppio Click !";
    QTest::newRow("Label1") << "Controlla  gli      accessi al tuo PC !";
}

void tst_viewerform::captions()
{
    QFETCH(QString, text);

    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QCOMPARE(child<QWidget>(form, QTest::currentDataTag())->property("text").toString(), text);
}

void tst_viewerform::blink()
{
    QElapsedTimer clock;
    clock.start();
    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    const auto *current = child<QLabel>(form, "imgCorrente");
    const QImage open = child<QLabel>(form, "imgScritta01")->pixmap().toImage();
    const QImage closed = child<QLabel>(form, "imgScritta02")->pixmap().toImage();
    QCOMPARE(open, QImage(QStringLiteral(":/pictures/eye-open.png")).convertToFormat(open.format()));
    QCOMPARE(closed, QImage(QStringLiteral(":/pictures/eye-closed.png")).convertToFormat(closed.format()));
    QVERIFY(open != closed);
    QVERIFY(current->pixmap().isNull());

    // The first two ticks come from the running timer, the rest are forced.
    // Both are timed from the start: a coarse timer may fire 5 % early, and a
    // tick seen late must not shorten the wait for the next.
    QTRY_VERIFY_WITH_TIMEOUT(!current->pixmap().isNull(), 3000);
    QVERIFY2(clock.elapsed() >= 1400,
             qPrintable(QStringLiteral("the first tick came after %1 ms").arg(clock.elapsed())));
    QCOMPARE(current->pixmap().toImage(), open);
    QTRY_COMPARE_WITH_TIMEOUT(current->pixmap().toImage(), closed, 3000);
    QVERIFY2(clock.elapsed() >= 2800,
             qPrintable(QStringLiteral("the second tick came after %1 ms").arg(clock.elapsed())));
    for (int tick = 0; tick < 4; ++tick) {
        form.Timer1_Timer();
        QCOMPARE(current->pixmap().toImage(), tick % 2 == 0 ? open : closed);
    }
}

void tst_viewerform::shortcutOpensLog_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("opens");

    QTest::newRow("double-click") << 0 << true;
    QTest::newRow("single click") << -1 << false;
    QTest::newRow("Return") << int(Qt::Key_Return) << true;
    QTest::newRow("Enter") << int(Qt::Key_Enter) << true;
    QTest::newRow("Space") << int(Qt::Key_Space) << true;
}

void tst_viewerform::shortcutOpensLog()
{
    QFETCH(int, key);
    QFETCH(bool, opens);

    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QVERIFY(showAndActivate(form));
    auto *shortcut = child<QWidget>(form, "OLE1");

    if (key == 0) {
        QTest::mouseDClick(shortcut, Qt::LeftButton);
    } else if (key < 0) {
        QTest::mouseClick(shortcut, Qt::LeftButton);
        QTest::qWait(QApplication::doubleClickInterval() + 50);
    } else {
        QTRY_COMPARE(QApplication::focusWidget(), child<QWidget>(form, "cmdChiudi"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), shortcut);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    }

    const QStringList expected{
        QUrl::fromLocalFile(QStringLiteral(TALLIX_LOG_PATH)).toString(QUrl::FullyEncoded)};
    if (opens)
        QTRY_COMPARE(opened(), expected);
    else
        QCOMPARE(opened(), QStringList());
}

void tst_viewerform::closing_data()
{
    QTest::addColumn<bool>("byKey");

    QTest::newRow("click") << false;
    QTest::newRow("Alt+C") << true;
}

void tst_viewerform::closing()
{
    QFETCH(bool, byKey);

    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QVERIFY(showAndActivate(form));
    auto *button = child<QPushButton>(form, "cmdChiudi");
    QTimer::singleShot(0, button, [&] {
        if (byKey)
            QTest::keyClick(&form, Qt::Key_C, Qt::AltModifier);
        else
            QTest::mouseClick(button, Qt::LeftButton);
    });
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, this, [] { QCoreApplication::exit(2); });
    safety.start(3000);
    QCOMPARE(QCoreApplication::exec(), 0);
}

void tst_viewerform::readableByAScreenReader_data()
{
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("name");

    QTest::newRow("OLE1") << QAccessible::Button << "Date.txt";
    QTest::newRow("cmdChiudi") << QAccessible::Button << "Chiudi";
    QTest::newRow("imgCorrente") << QAccessible::Graphic << "Occhio che si apre e si chiude";
    QTest::newRow("imgScritta01") << QAccessible::Graphic << "Occhio aperto";
    QTest::newRow("imgScritta02") << QAccessible::Graphic << "Occhio chiuso";
    QTest::newRow("Label1") << QAccessible::StaticText << "Controlla  gli      accessi al tuo PC !";
}

void tst_viewerform::readableByAScreenReader()
{
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, name);

    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QVERIFY(showAndActivate(form));
    // The eye is an image from the first tick on.
    form.Timer1_Timer();
    QAccessibleInterface *control =
        QAccessible::queryAccessibleInterface(child<QWidget>(form, QTest::currentDataTag()));
    QVERIFY(control);
    QCOMPARE(control->role(), role);
    QCOMPARE(control->text(QAccessible::Name), name);
}

void tst_viewerform::screenReaderPressOpensLog()
{
    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QVERIFY(showAndActivate(form));
    QAccessibleActionInterface *actions =
        QAccessible::queryAccessibleInterface(child<QWidget>(form, "OLE1"))->actionInterface();
    QVERIFY(actions);
    QCOMPARE(actions->actionNames().value(0), QAccessibleActionInterface::pressAction());
    actions->doAction(QAccessibleActionInterface::pressAction());
    // Qt animates the press before it clicks.
    QTRY_COMPARE(
        opened(),
        QStringList{QUrl::fromLocalFile(QStringLiteral(TALLIX_LOG_PATH)).toString(QUrl::FullyEncoded)});
}

// xdg-open's 3 means no application for the type: the user is told what to
// install, not left with a double-click that does nothing.
void tst_viewerform::failedOpenSaysWhatToInstall()
{
    QFile status(m_bin.filePath(QStringLiteral("status")));
    QVERIFY(status.open(QIODevice::WriteOnly) && status.write("3\n") == 2);
    status.close();
    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QVERIFY(showAndActivate(form));
    QTest::mouseDClick(child<QWidget>(form, "OLE1"), Qt::LeftButton);
    QTRY_VERIFY(form.findChild<QMessageBox *>(QStringLiteral("notOpened")));
    auto *box = form.findChild<QMessageBox *>(QStringLiteral("notOpened"));
    const QString said = box->text();
    box->accept();
    QVERIFY2(said.contains(QStringLiteral(TALLIX_LOG_PATH)), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("codice 3")), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("pacchetto file")), qPrintable(said));
}

// Run as its own test at scale 2: what is drawn must be the picture made
// for the scale, never a 1x picture blown up. Scale 1 is the screenshot's.
void tst_viewerform::picturesAtDoubleScale()
{
    if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        QSKIP("run by viewerform_at_scale_2");
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    QVERIFY(showAndActivate(form));
    form.Timer1_Timer();
    const QImage shot = form.grab().toImage();
    QCOMPARE(shot.size(), QSize(113, 405) * 2);
    const QRect eye = child<QLabel>(form, "imgCorrente")->geometry();
    const QImage open(QStringLiteral(":/pictures/eye-open@2x.png"));
    QCOMPARE(open.size(), QSize(36, 36) * 2);
    QCOMPARE(shot.copy(QRect(eye.topLeft() * 2, open.size())).convertToFormat(open.format()), open);

    const QCursor hand = child<QWidget>(form, "OLE1")->cursor();
    QCOMPARE(hand.pixmap().size(), QSize(32, 32) * 2);
    QCOMPARE(hand.pixmap().devicePixelRatio(), 2.0);
    QCOMPARE(hand.hotSpot(), QPoint(12, 1));
}

void tst_viewerform::ownTitleBarShowsTheWholeCaption()
{
    Form1 form(QStringLiteral(TALLIX_LOG_PATH), PasswordGate::builtIn());
    {
        WindowFrame frame(form);
        QCOMPARE(frame.windowTitle(), QStringLiteral("Vistrel"));
        QCOMPARE(frame.size(), QSize(113, 405 + WindowFrame::TitleHeight));
        QCOMPARE(form.pos(), QPoint(0, WindowFrame::TitleHeight));
        QCOMPARE(form.size(), QSize(113, 405));
        QVERIFY2(frame.fontMetrics().horizontalAdvance(frame.windowTitle()) <= frame.captionRect().width(),
                 "the caption does not fit its title bar");
        QVERIFY(!frame.captionRect().intersects(frame.closeButtonRect()));
        QVERIFY(showAndActivate(frame));
        QTest::mouseClick(&frame, Qt::LeftButton, {}, frame.closeButtonRect().center());
        QTRY_VERIFY(!frame.isVisible());
    }
    QVERIFY(form.parent() == nullptr);
}

QTEST_MAIN(tst_viewerform)
#include "tst_viewerform.moc"
