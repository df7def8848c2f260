#include "logger/textbox.h"

QString TextBox::text() const
{
    return m_textPending ? m_text : toPlainText();
}

void TextBox::setText(const QString &text)
{
    m_text = text;
    m_textPending = true;
    if (isVisible())
        layOutText();
}

void TextBox::showEvent(QShowEvent *event)
{
    if (m_textPending)
        layOutText();
    QPlainTextEdit::showEvent(event);
}

void TextBox::layOutText()
{
    setPlainText(m_text);
    m_text.clear();
    m_textPending = false;
}
