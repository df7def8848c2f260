#pragma once

#include <QWidget>

// A title bar of the program's own above a window, for window systems that
// leave title bars to the program (Wayland without server-side decorations,
// as on GNOME): Qt's own draws three buttons and centres the caption over
// them, which cuts a narrow window's caption down to nothing.
class WindowFrame : public QWidget
{
    Q_OBJECT

public:
    static constexpr int TitleHeight = 24;

    // Whether title bars are the program's to draw: on Wayland, where GNOME
    // never draws them and Qt's own have no room for a narrow window's caption.
    static bool isNeeded();

    // Takes 'window' in, below the title bar, and gives it back when it goes.
    explicit WindowFrame(QWidget &window);
    ~WindowFrame() override;

    QRect captionRect() const;
    QRect closeButtonRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QWidget &m_window;
};
