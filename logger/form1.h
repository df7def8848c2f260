#pragma once

#include "logger/accessrecorder.h"

#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class Form1;
}

class TextBox;

namespace Logger {

// The title card. Showing it records one access, through the service or in
// the log beside the logger ('path' is the one or the other); it closes by itself 1100 ms after it was
// created, or as soon as a longer update returns.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds Lifetime{1100};

    Form1(AccessRecorder::Via via, const QString &path, QWidget *parent = nullptr);
    ~Form1() override;

    TextBox *Text1() const;

    void Form_Activate();
    void Timer1_Timer();

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::Form1> ui;
    QTimer Timer1;
    AccessRecorder::Via m_via;
    QString m_path;
    bool m_accessRecorded = false;
};

} // namespace Logger
