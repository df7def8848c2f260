#include "logger/form1.h"
#include "ui_form1.h"

#include "logger/displaytext.h"
#include "logger/errorreport.h"
#include "startup/startup.h"

namespace Logger {

Form1::Form1(AccessRecorder::Via via, const QString &path, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::Form1>()), Timer1(this), m_via(via), m_path(path)
{
    ui->setupUi(this);
    ui->Image1->setPixmap(Runtime::picture(QStringLiteral("eye-photo")));
    Runtime::centreOnScreen(this);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(Lifetime);
    connect(&Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1.start();
}

Form1::~Form1() = default;

TextBox *Form1::Text1() const
{
    return ui->Text1;
}

// Runs once per start, at the first show: activation may never come (no
// window manager, focus-stealing prevention, no display) or come several times.
void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_accessRecorded)
        return;
    m_accessRecorded = true;
    QMetaObject::invokeMethod(this, &Form1::Form_Activate, Qt::QueuedConnection);
}

void Form1::Form_Activate()
{
    AccessRecorder recorder(m_via, m_path);
    const bool recorded = recorder.run(DisplayText());
    if (!recorder.notice().isEmpty())
        warn(recorder.notice());
    if (!recorded) {
        Timer1.stop();
        hide();
        fail(recorder.errorString());
        return;
    }
    ui->Text1->setText(ui->Text1->text() + recorder.listing());
}

void Form1::Timer1_Timer()
{
    close();
}

} // namespace Logger
