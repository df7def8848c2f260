// Build tool: turns the password file that CMake writes into a header that
// holds only a random salt, an iteration count and the derived key.

#include "passwordhash.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>

namespace {

constexpr int Iterations = 120000;

QByteArray cArray(const QByteArray &bytes)
{
    QByteArray out;
    for (const char byte : bytes)
        out += "0x" + QByteArray::number(static_cast<unsigned char>(byte), 16) + ", ";
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PASSWORD-FILE HEADER\n", argv[0]);
        return 2;
    }
    QFile passwordFile(QString::fromLocal8Bit(argv[1]));
    if (!passwordFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(passwordFile.errorString()));
        return 1;
    }
    const QString password = QString::fromUtf8(passwordFile.readAll());

    QByteArray salt(PasswordHash::SaltLength, Qt::Uninitialized);
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    const QByteArray key = PasswordHash::derive(password, salt, Iterations);

    QFile header(QString::fromLocal8Bit(argv[2]));
    if (!header.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "%s: %s\n", argv[2], qPrintable(header.errorString()));
        return 1;
    }
    header.write("#pragma once\n\n"
                 "namespace BuiltInPassword {\n"
                 "inline constexpr int Iterations = " + QByteArray::number(Iterations) + ";\n"
                 "inline constexpr unsigned char Salt[] = { " + cArray(salt) + "};\n"
                 "inline constexpr unsigned char Key[] = { " + cArray(key) + "};\n"
                 "}\n");
    return header.flush() ? 0 : 1;
}
