#pragma once

#include <QAbstractButton>

// An icon standing for a file, with its name beneath. A double-click, Enter
// or Space, or a screen reader's press, hands the file to the desktop's
// default application through xdg-open, and says so when that fails; a
// single click does nothing. The shortcut itself never opens or reads the
// file.
class LogShortcut : public QAbstractButton
{
    Q_OBJECT

public:
    explicit LogShortcut(QWidget *parent = nullptr);
    ~LogShortcut() override;

    void setFilePath(const QString &path);

    void openFile();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Says, in a message box, that the log could not be opened and why.
    void tellNotOpened(const QString &why);

    QString m_filePath;
};
