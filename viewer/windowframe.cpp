#include "viewer/windowframe.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace {
constexpr int Padding = 4;
}

bool WindowFrame::isNeeded()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

WindowFrame::WindowFrame(QWidget &window) : m_window(window)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(window.windowTitle());
    setWindowIcon(window.windowIcon());
    setAccessibleName(window.windowTitle());
    window.setParent(this);
    window.move(0, TitleHeight);
    setFixedSize(window.width(), window.height() + TitleHeight);
}

WindowFrame::~WindowFrame()
{
    m_window.setParent(nullptr);
}

QRect WindowFrame::closeButtonRect() const
{
    const int side = TitleHeight - 2 * Padding;
    return QRect(width() - Padding - side, Padding, side, side);
}

QRect WindowFrame::captionRect() const
{
    // Centred on the window, clear of the close button on either side.
    const int margin = width() - closeButtonRect().left() + Padding;
    return QRect(margin, 0, width() - 2 * margin, TitleHeight);
}

void WindowFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(0, 0, width(), TitleHeight, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, TitleHeight - 1, width(), TitleHeight - 1);

    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(captionRect(), Qt::AlignCenter | Qt::TextSingleLine, windowTitle());

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1.5));
    const QRect cross = closeButtonRect().adjusted(4, 4, -4, -4);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.bottomLeft(), cross.topRight());
}

void WindowFrame::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (closeButtonRect().contains(event->position().toPoint()))
        close();
    else if (windowHandle())
        windowHandle()->startSystemMove();
}
