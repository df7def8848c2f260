#include "viewer/form1.h"
#include "ui_form1.h"

#include "startup/startup.h"

#include <QApplication>
#include <QCursor>
#include <QInputDialog>

namespace Viewer {

namespace {
constexpr QPoint PointingHandHotSpot(12, 1);
}

Form1::Form1(const QString &logPath, const PasswordGate &gate, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::Form1>()), Timer1(this), m_gate(gate)
{
    ui->setupUi(this);
    // The only buttons a title bar drawn by the program shows, which leaves
    // the narrow window room for its whole caption.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ui->imgScritta01->setPixmap(Runtime::picture(QStringLiteral("eye-open")));
    ui->imgScritta02->setPixmap(Runtime::picture(QStringLiteral("eye-closed")));
    ui->OLE1->setFilePath(logPath);
    // Hot spots are in the pictures' logical pixels, whatever their scale.
    ui->OLE1->setCursor(QCursor(Runtime::picture(QStringLiteral("pointing-hand")), PointingHandHotSpot.x(),
                                PointingHandHotSpot.y()));
    ui->Label1->setCursor(QCursor(Runtime::picture(QStringLiteral("computer"))));
    Runtime::centreOnScreen(this);

    connect(ui->cmdChiudi, &QPushButton::clicked, this, &Form1::cmdChiudi_Click);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(BlinkInterval);
    connect(&Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1.start();
}

Form1::~Form1() = default;

bool Form1::Form_Load()
{
    bool answered = false;
    const QString answer =
        QInputDialog::getText(nullptr, Title, Prompt, QLineEdit::Password, QString(), &answered);
    return answered && m_gate.accepts(answer);
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    ui->cmdChiudi->setFocus();
    activateWindow();
}

// An empty Stato counts as 0, so the first tick shows the open eye.
void Form1::Timer1_Timer()
{
    if (Stato.toInt() == 0) {
        ui->imgCorrente->setPixmap(ui->imgScritta01->pixmap());
        Stato = 1;
    } else {
        ui->imgCorrente->setPixmap(ui->imgScritta02->pixmap());
        Stato = 0;
    }
}

void Form1::cmdChiudi_Click()
{
    QCoreApplication::exit(0);
}

} // namespace Viewer
