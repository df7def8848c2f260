#pragma once

#include "viewer/gate/passwordgate.h"

#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <memory>

namespace Ui {
class Form1;
}

namespace Viewer {

// The viewer window: a blinking eye, a caption, a shortcut to the access
// log and a button that ends the program.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds BlinkInterval{1500};
    static inline const QString Title = QStringLiteral("Tallix Vistrel");
    static inline const QString Prompt = QStringLiteral("Inserisci la password (in minuscolo)");

    Form1(const QString &logPath, const PasswordGate &gate, QWidget *parent = nullptr);
    ~Form1() override;

    // Asks for the password once; false means the window must not be shown.
    bool Form_Load();
    void Timer1_Timer();
    void cmdChiudi_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::Form1> ui;
    QTimer Timer1;
    QVariant Stato;
    PasswordGate m_gate;
};

} // namespace Viewer
