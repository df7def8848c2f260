#pragma once

#include <QString>

class DisplayText;

// Records one access through the recorder program, which alone writes the
// log, and lists in display form the records the log held before it.
class AccessRecorder
{
public:
    explicit AccessRecorder(const QString &program);

    bool run(const DisplayText &display);

    // One display text per record, each followed by CR LF, in file order.
    QString listing() const { return m_listing; }
    // What the recorder said besides recording: a torn last line it dropped.
    QString notice() const { return m_notice; }
    QString errorString() const { return m_error; }

private:
    // Runs the recorder with its standard output going to 'output'.
    bool runRecorder(const QString &output);

    QString m_program;
    QString m_listing;
    QString m_notice;
    QString m_error;
};
