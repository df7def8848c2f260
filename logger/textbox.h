#pragma once

#include <QPlainTextEdit>

// A multi-line text box that keeps its text as a plain string until it is
// shown: laying out a log of a million lines in a box nobody sees would cost
// the logger seconds.
class TextBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    using QPlainTextEdit::QPlainTextEdit;

    QString text() const;
    void setText(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void layOutText();

    QString m_text;
    bool m_textPending = false;
};
