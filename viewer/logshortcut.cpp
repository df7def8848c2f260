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

void LogShortcut::setFilePath(const QString &path)
{
    m_filePath = path;
    setToolTip(path);
    update();
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
    painter.drawText(labelArea, Qt::AlignHCenter | Qt::AlignTop, QFileInfo(m_filePath).fileName());

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = labelArea.adjusted(1, 0, -1, 0);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void LogShortcut::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        openFile();
}

void LogShortcut::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        openFile();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}
