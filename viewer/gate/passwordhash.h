#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

// The viewer's password is kept only as a salted Argon2id key: the key sits
// in a program anyone can read, so it is all that stands between a guesser
// with a copy and the password.
namespace PasswordHash {

inline constexpr int KeyLength = 32;
inline constexpr int SaltLength = 16;

struct Cost
{
    std::uint32_t passes;
    std::uint32_t memoryKiB;
    std::uint32_t lanes;
};

// Twice the work of OWASP's first choice (46 MiB, 1 pass, 1 lane; 2023),
// and still an answer within a quarter of a second on two busy cores.
inline constexpr Cost BuiltInCost{2, 46 * 1024, 1};

// Empty when the key cannot be made (no memory for it).
QByteArray derive(const QString &password, const QByteArray &salt, Cost cost);

// Compares in time that does not depend on where the keys differ.
bool equalKeys(QByteArrayView a, QByteArrayView b);

} // namespace PasswordHash
