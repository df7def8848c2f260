// Build tool: turns the password file that CMake writes into a header that
// holds only a salt, the cost and the derived key.
// Usage: tallix-hash-password PASSWORD-FILE VERSION HEADER
//
// The salt is public in the program anyway; what it must prevent is one
// table of guesses serving every build. A builder may give its own
// (TALLIX_PASSWORD_SALT, 32 hex digits); a reproducible build
// (SOURCE_DATE_EPOCH set) derives it from that time and the version, so that
// two builds of one source are the same bytes; otherwise it is random.

#include "viewer/gate/passwordhash.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>

namespace {

QByteArray cArray(const QByteArray &bytes)
{
    QByteArray out;
    for (const char byte : bytes)
        out += "0x" + QByteArray::number(static_cast<unsigned char>(byte), 16) + ", ";
    return out;
}

QByteArray saltFor(const QByteArray &version)
{
    const QByteArray given = QByteArray::fromHex(qgetenv("TALLIX_PASSWORD_SALT"));
    if (given.size() == PasswordHash::SaltLength)
        return given;
    const QByteArray epoch = qgetenv("SOURCE_DATE_EPOCH");
    if (!epoch.isEmpty())
        return QCryptographicHash::hash("tallix-vistrel " + version + ' ' + epoch, QCryptographicHash::Sha256)
            .left(PasswordHash::SaltLength);
    QByteArray salt(PasswordHash::SaltLength, Qt::Uninitialized);
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    return salt;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PASSWORD-FILE VERSION HEADER\n", argv[0]);
        return 2;
    }
    QFile passwordFile(QString::fromLocal8Bit(argv[1]));
    if (!passwordFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(passwordFile.errorString()));
        return 1;
    }
    const QString password = QString::fromUtf8(passwordFile.readAll());

    const QByteArray salt = saltFor(argv[2]);
    constexpr PasswordHash::Cost Cost = PasswordHash::BuiltInCost;
    const QByteArray key = PasswordHash::derive(password, salt, Cost);
    if (key.isEmpty()) {
        std::fprintf(stderr, "%s: not enough memory for the key\n", argv[0]);
        return 1;
    }

    QFile header(QString::fromLocal8Bit(argv[3]));
    if (!header.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "%s: %s\n", argv[3], qPrintable(header.errorString()));
        return 1;
    }
    header.write("#pragma once\n\n"
                 "#include <cstdint>\n\n"
                 "namespace BuiltInPassword {\n"
                 "inline constexpr std::uint32_t Passes = "
                 + QByteArray::number(Cost.passes)
                 + ";\n"
                   "inline constexpr std::uint32_t MemoryKiB = "
                 + QByteArray::number(Cost.memoryKiB)
                 + ";\n"
                   "inline constexpr std::uint32_t Lanes = "
                 + QByteArray::number(Cost.lanes)
                 + ";\n"
                   "inline constexpr unsigned char Salt[] = { "
                 + cArray(salt)
                 + "};\n"
                   "inline constexpr unsigned char Key[] = { "
                 + cArray(key)
                 + "};\n"
                   "}\n");
    return header.flush() ? 0 : 1;
}
