#pragma once

#include "viewer/gate/passwordhash.h"

#include <QByteArray>
#include <QString>

// Lets through exactly the password the viewer was built with: same
// characters, same case, nothing trimmed.
class PasswordGate
{
public:
    PasswordGate(const QByteArray &salt, const QByteArray &key, PasswordHash::Cost cost);
    static PasswordGate builtIn();

    bool accepts(const QString &answer) const;

private:
    QByteArray m_salt;
    QByteArray m_key;
    PasswordHash::Cost m_cost;
};
