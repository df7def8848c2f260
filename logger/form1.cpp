#include "form1.h"
#include "ui_form1.h"

#include "displaytext.h"
#include "errorreport.h"
#include "logupdate.h"
#include "startup.h"

namespace Logger {

Form1::Form1(const QString &logPath, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::Form1>()), Timer1(this), m_logPath(logPath)
{
    ui->setupUi(this);
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
    LogUpdate update(m_logPath);
    if (!update.run(AccessTime::now(), DisplayText())) {
        Timer1.stop();
        hide();
        Runtime::fail(update.errorString());
        return;
    }
    ui->Text1->setText(ui->Text1->text() + update.displayTexts());
}

void Form1::Timer1_Timer()
{
    close();
}

} // namespace Logger
