#include "viewer/logshortcut.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QUrl>

namespace {
constexpr int IconSize = 32;
}

LogShortcut::LogShortcut(QWidget *parent) : QAbstractButton(parent)
{
    // Qt's button accessibility: a push button named after the file, whose
    // press action is a click.
    connect(this, &QAbstractButton::clicked, this, &LogShortcut::openFile);
}

void LogShortcut::setFilePath(const QString &path)
{
    m_filePath = path;
    setText(QFileInfo(path).fileName());
    setToolTip(path);
    setAccessibleDescription(QStringLiteral("Apre il registro degli accessi %1").arg(path));
}

// An opener still running when the window closes is destroyed with it, and
// says it finished: by then there is no shortcut left to tell.
LogShortcut::~LogShortcut()
{
    for (QProcess *opener : findChildren<QProcess *>(Qt::FindDirectChildrenOnly))
        opener->disconnect(this);
}

// The desktop's opener is run and watched here: QDesktopServices reports
// success as soon as xdg-open starts, so a desktop that cannot open text
// would fail in silence. Sandboxed, only the portal can open it.
void LogShortcut::openFile()
{
    const QUrl url = QUrl::fromLocalFile(m_filePath);
    if (QFileInfo::exists(QStringLiteral("/.flatpak-info"))) {
        if (!QDesktopServices::openUrl(url))
            tellNotOpened(QStringLiteral("il portale del desktop l'ha rifiutato"));
        return;
    }
    auto *opener = new QProcess(this);
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(opener, &QProcess::finished, this, [this, opener](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status != QProcess::NormalExit)
            tellNotOpened(QStringLiteral("xdg-open si è interrotto"));
        else if (code != 0)
            tellNotOpened(QStringLiteral("xdg-open è terminato con il codice %1").arg(code));
    });
    connect(opener, &QProcess::errorOccurred, this, [this, opener](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        opener->deleteLater();
        tellNotOpened(QStringLiteral("xdg-open non è installato (pacchetto xdg-utils)"));
    });
    opener->start(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

void LogShortcut::tellNotOpened(const QString &why)
{
    auto *box =
        new QMessageBox(QMessageBox::Warning, window()->windowTitle(),
                        QStringLiteral("Il desktop non ha potuto aprire il registro degli accessi %1: "
                                       "%2.\n\nPer aprirlo servono un editor di testo (per esempio "
                                       "mousepad, gedit o kate) e il programma che ne riconosce il "
                                       "tipo (pacchetto file o libfile-mimeinfo-perl).")
                            .arg(m_filePath, why),
                        QMessageBox::Ok, window());
    box->setObjectName(QStringLiteral("notOpened"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void LogShortcut::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The icon of plain text, chosen by name only: the file is not looked at.
    const QIcon icon =
        QIcon::fromTheme(QStringLiteral("text-plain"), QIcon(QStringLiteral(":/pictures/text-file.png")));
    const QRect iconArea((width() - IconSize) / 2, 2, IconSize, IconSize);
    icon.paint(&painter, iconArea);

    const QRect labelArea(0, iconArea.bottom() + 2, width(), height() - iconArea.bottom() - 2);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(labelArea, Qt::AlignHCenter | Qt::AlignTop, text());

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = labelArea.adjusted(1, 0, -1, 0);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

// A single click only takes the focus, as on a desktop's file icon.
void LogShortcut::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        setFocus(Qt::MouseFocusReason);
}

void LogShortcut::mouseReleaseEvent(QMouseEvent *) { }

void LogShortcut::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        click();
}

// Space is the button's own key; Enter opens the file too.
void LogShortcut::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        click();
    else
        QAbstractButton::keyPressEvent(event);
}
