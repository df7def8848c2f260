#include "viewer/gate/passwordhash.h"

#include <argon2.h>

namespace PasswordHash {

QByteArray derive(const QString &password, const QByteArray &salt, Cost cost)
{
    const QByteArray utf8 = password.toUtf8();
    QByteArray key(KeyLength, Qt::Uninitialized);
    if (argon2id_hash_raw(cost.passes, cost.memoryKiB, cost.lanes, utf8.constData(), std::size_t(utf8.size()),
                          salt.constData(), std::size_t(salt.size()), key.data(), std::size_t(key.size()))
        != ARGON2_OK)
        return {};
    return key;
}

bool equalKeys(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace PasswordHash
