#pragma once

#include <QWidget>

// An icon standing for a file, with its name beneath. A double-click, or
// Enter or Space while it has the focus, hands the file to the desktop's
// default application; the shortcut itself never opens or reads the file.
class LogShortcut : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;

    void setFilePath(const QString &path);

    void openFile();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_filePath;
};
