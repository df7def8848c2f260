#pragma once

#include <QString>

class DisplayText;

// Records one access through the one writer of the log, and lists in
// display form the records the log held before it. A system install asks
// the recording service on its socket; a private install updates the
// Date.txt beside the logger itself, with the user's own rights. Which one
// is fixed when the logger is built, never chosen by whoever starts it.
class AccessRecorder
{
public:
    enum class Via { Service, InProcess };

    // 'path' is the service's socket, or the log updated in process.
    AccessRecorder(Via via, const QString &path);

    // The Date.txt in the folder of this program's file as the kernel names
    // it; empty when /proc cannot say.
    static QString logBesideProgram();
    // Makes the process safe for updating the log itself; called before any
    // thread starts.
    static void protectProcess();

    bool run(const DisplayText &display);

    // One display text per record, each followed by CR LF, in file order.
    QString listing() const { return m_listing; }
    // What the update said besides recording: a torn last line it dropped,
    // the first line of the log that is not a date.
    QString notice() const { return m_notice; }
    QString errorString() const { return m_error; }

private:
    bool askService(const DisplayText &display);
    bool updateInProcess(const DisplayText &display);

    Via m_via;
    QString m_path;
    QString m_listing;
    QString m_notice;
    QString m_error;
};
