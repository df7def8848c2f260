#pragma once

#include <QString>

class DisplayText;

// Records one access through the one writer of the log, and lists in
// display form the records the log held before it. A system install asks
// the recording service on its socket; a private install runs the recorder
// program beside the logger, with the user's own rights. Which one is fixed
// when the logger is built, never chosen by whoever starts it.
class AccessRecorder
{
public:
    enum class Via { Service, Program };

    AccessRecorder(Via via, const QString &path);

    bool run(const DisplayText &display);

    // One display text per record, each followed by CR LF, in file order.
    QString listing() const { return m_listing; }
    // What the recorder said besides recording: a torn last line it dropped,
    // the first line of the log that is not a date.
    QString notice() const { return m_notice; }
    QString errorString() const { return m_error; }

private:
    bool askService(const DisplayText &display);
    bool runProgram(const DisplayText &display);
    // Runs the recorder with its standard output going to 'output'.
    bool runRecorder(const QString &output);

    Via m_via;
    QString m_path;
    QString m_listing;
    QString m_notice;
    QString m_error;
};
