#include "logshortcut.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
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

void LogShortcut::openFile()
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(m_filePath)))
        QMessageBox::warning(window(), window()->windowTitle(),
                             QStringLiteral("Nessuna applicazione del desktop ha potuto aprire %1")
                                 .arg(m_filePath));
}

void LogShortcut::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The icon of plain text, chosen by name only: the file is not looked at.
    const QIcon icon = QIcon::fromTheme(QStringLiteral("text-plain"),
                                        QIcon(QStringLiteral(":/pictures/text-file.png")));
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
