#include "viewer/gate/passwordgate.h"
#include "viewer/gate/builtinpassword.h"
#include "viewer/gate/passwordhash.h"

PasswordGate::PasswordGate(const QByteArray &salt, const QByteArray &key, PasswordHash::Cost cost)
    : m_salt(salt), m_key(key), m_cost(cost)
{ }

PasswordGate PasswordGate::builtIn()
{
    return PasswordGate(
        QByteArray(reinterpret_cast<const char *>(BuiltInPassword::Salt), sizeof BuiltInPassword::Salt),
        QByteArray(reinterpret_cast<const char *>(BuiltInPassword::Key), sizeof BuiltInPassword::Key),
        {BuiltInPassword::Passes, BuiltInPassword::MemoryKiB, BuiltInPassword::Lanes});
}

bool PasswordGate::accepts(const QString &answer) const
{
    return PasswordHash::equalKeys(PasswordHash::derive(answer, m_salt, m_cost), m_key);
}
