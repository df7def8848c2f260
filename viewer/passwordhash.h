#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The viewer's password is kept only as a salted PBKDF2-HMAC-SHA256 key.
namespace PasswordHash {

inline constexpr int KeyLength = 32;
inline constexpr int SaltLength = 16;

QByteArray derive(const QString &password, const QByteArray &salt, int iterations);

// Compares in time that does not depend on where the keys differ.
bool equalKeys(QByteArrayView a, QByteArrayView b);

} // namespace PasswordHash
