#pragma once

// A window drawn in a fixed state, compared with its reference picture in
// TALLIX_SCREENSHOTS. With TALLIX_RENEW_SCREENSHOTS=1 in the environment the
// drawing becomes the new reference instead, and the test is skipped.

#include <QDir>
#include <QImage>
#include <QLibraryInfo>
#include <QRect>
#include <QTest>
#include <QVersionNumber>

namespace Screenshot {

// Per channel, out of 255: what blending on another processor may change at
// the anti-aliased edges of text. A control one pixel away or a colour one
// can tell apart changes some pixel by far more.
constexpr int Tolerance = 8;

inline bool renewing()
{
    return qEnvironmentVariableIntValue("TALLIX_RENEW_SCREENSHOTS") == 1;
}

inline QString referencePath(const QString &name)
{
    return QStringLiteral(TALLIX_SCREENSHOTS "/%1.png").arg(name);
}

inline bool renew(const QImage &shot, const QString &name)
{
    return QDir().mkpath(QStringLiteral(TALLIX_SCREENSHOTS)) && shot.save(referencePath(name));
}

// Empty when the drawing matches its reference; else what differs, with the
// drawing and its differences saved in the build folder.
inline QString compare(const QImage &shot, const QString &name)
{
    const QString failed = QStringLiteral(TALLIX_SCREENSHOT_FAILURES "/%1-actual.png").arg(name);
    const QString marked = QStringLiteral(TALLIX_SCREENSHOT_FAILURES "/%1-difference.png").arg(name);
    // A failure of an earlier run must not be taken for this one's.
    QFile::remove(failed);
    QFile::remove(marked);

    // One format for both, alpha included, whatever the grab's.
    const QImage actual = shot.convertToFormat(QImage::Format_ARGB32);
    const QImage reference = QImage(referencePath(name)).convertToFormat(QImage::Format_ARGB32);
    const QString renewal = QStringLiteral(
        "If the change is meant, renew the references with TALLIX_RENEW_SCREENSHOTS=1 "
        "ctest -R '^(loggerform|viewerform)$' and look at them before committing; they are drawn at "
        "scale 1 with Debian 12's Qt and the fonts of fonts-liberation2 and fonts-leckerli-one.");
    QDir().mkpath(QStringLiteral(TALLIX_SCREENSHOT_FAILURES));
    if (reference.isNull()) {
        actual.save(failed);
        return QStringLiteral("no reference %1; the drawing is in %2. %3")
            .arg(referencePath(name), failed, renewal);
    }
    if (actual.size() != reference.size()) {
        actual.save(failed);
        return QStringLiteral("the window is %1x%2, its reference %3 is %4x%5; the drawing is in %6. %7")
            .arg(actual.width())
            .arg(actual.height())
            .arg(referencePath(name))
            .arg(reference.width())
            .arg(reference.height())
            .arg(failed, renewal);
    }

    // The differences in green over the reference dimmed to a third.
    QImage difference(reference.size(), QImage::Format_RGB32);
    QRect differing;
    int count = 0;
    for (int y = 0; y < reference.height(); ++y) {
        for (int x = 0; x < reference.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb r = reference.pixel(x, y);
            const bool differs = qAbs(qRed(a) - qRed(r)) > Tolerance
                || qAbs(qGreen(a) - qGreen(r)) > Tolerance || qAbs(qBlue(a) - qBlue(r)) > Tolerance
                || qAbs(qAlpha(a) - qAlpha(r)) > Tolerance;
            if (differs) {
                ++count;
                differing |= QRect(x, y, 1, 1);
            }
            difference.setPixel(x, y,
                                differs ? qRgb(0, 255, 0) : qRgb(qRed(r) / 3, qGreen(r) / 3, qBlue(r) / 3));
        }
    }
    if (count == 0)
        return {};
    actual.save(failed);
    difference.save(marked);
    return QStringLiteral("%1 pixels differ from %2 by more than %3 of 255, within %4x%5 at (%6, %7); "
                          "the drawing is in %8, the differences in green in %9. %10")
        .arg(count)
        .arg(referencePath(name))
        .arg(Tolerance)
        .arg(differing.width())
        .arg(differing.height())
        .arg(differing.x())
        .arg(differing.y())
        .arg(failed, marked, renewal);
}

// The Qt of the releases whose drawings the references match: Debian 12's
// and 13's. A later Qt draws text its own way (6.11 underlines mnemonics
// wider), which says nothing of the window.
inline bool drawnAsReferences()
{
    return QLibraryInfo::version() < QVersionNumber(6, 9);
}

} // namespace Screenshot

// Compares, or renews and skips; the references are drawn at scale 1.
#define VERIFY_SCREENSHOT(shot, name) \
    do { \
        const QImage screenshotTaken = (shot); \
        QCOMPARE(screenshotTaken.devicePixelRatio(), 1.0); \
        const QString screenshotName = QStringLiteral(name); \
        if (!Screenshot::drawnAsReferences()) \
            QSKIP(qPrintable(QStringLiteral("the references are not drawn with Qt ") + qVersion())); \
        if (Screenshot::renewing()) { \
            QVERIFY2(Screenshot::renew(screenshotTaken, screenshotName), \
                     qPrintable(Screenshot::referencePath(screenshotName))); \
            QSKIP(qPrintable(QStringLiteral("renewed ") + Screenshot::referencePath(screenshotName))); \
        } \
        const QString screenshotMismatch = Screenshot::compare(screenshotTaken, screenshotName); \
        QVERIFY2(screenshotMismatch.isEmpty(), qPrintable(screenshotMismatch)); \
    } while (false)
