#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

// Qt shows a picture's @2x twin on screens with twice the pixel density, so
// every twin must be the same picture, drawn at twice the size in the same
// kind of image; the application-grid icons must be full colour.
class tst_Pictures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twinMatchesItsPicture_data();
    void twinMatchesItsPicture();
    void noTwinWithoutItsPicture_data();
    void noTwinWithoutItsPicture();
    void eyeFramesKeepTheGreyGround_data();
    void eyeFramesKeepTheGreyGround();
    void handPointsWithItsFingertip_data();
    void handPointsWithItsFingertip();
    void themeIconsFitTheirSize_data();
    void themeIconsFitTheirSize();
};

namespace {

const QString resourceFolder = QStringLiteral(":/pictures");
const QString twinSuffix = QStringLiteral("@2x.png");

QStringList picturesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
}

QString twinOf(const QString &name)
{
    return name.chopped(4) + twinSuffix;
}

QImage resourcePicture(const QString &name)
{
    return QImage(resourceFolder + u'/' + name);
}

bool isIndexed(const QImage &image)
{
    return image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono
        || image.format() == QImage::Format_MonoLSB;
}

QString kindOf(const QImage &image)
{
    if (isIndexed(image))
        return QStringLiteral("indexed");
    return image.hasAlphaChannel() ? QStringLiteral("ARGB") : QStringLiteral("RGB");
}

// Two inks and transparency, as a monochrome pointer has, or sixteen colours.
int paletteBound(const QImage &indexed)
{
    return indexed.colorCount() <= 3 ? 3 : 16;
}

} // namespace

void tst_Pictures::initTestCase()
{
    QVERIFY2(!picturesIn(resourceFolder).isEmpty(), "the resource holds no pictures");
    QVERIFY2(QDir(QStringLiteral(TALLIX_PICTURES_DIR)).exists(), TALLIX_PICTURES_DIR);
}

void tst_Pictures::twinMatchesItsPicture_data()
{
    QTest::addColumn<QString>("name");

    for (const QString &name : picturesIn(resourceFolder))
        if (!name.endsWith(twinSuffix))
            QTest::newRow(qPrintable(name)) << name;
}

void tst_Pictures::twinMatchesItsPicture()
{
    QFETCH(QString, name);

    const QImage picture = resourcePicture(name);
    const QImage twin = resourcePicture(twinOf(name));
    QVERIFY(!picture.isNull());
    QVERIFY2(!twin.isNull(), qPrintable(twinOf(name) + QStringLiteral(" is missing")));
    QCOMPARE(twin.size(), picture.size() * 2);
    QCOMPARE(kindOf(twin), kindOf(picture));
    if (isIndexed(picture)) {
        QVERIFY(picture.colorCount() <= 16);
        QVERIFY2(twin.colorCount() <= paletteBound(picture),
                 qPrintable(QStringLiteral("%1 colours").arg(twin.colorCount())));
    }
}

void tst_Pictures::noTwinWithoutItsPicture_data()
{
    QTest::addColumn<QString>("twin");

    for (const QString &name : picturesIn(resourceFolder))
        if (name.endsWith(twinSuffix))
            QTest::newRow(qPrintable(name)) << name;
}

void tst_Pictures::noTwinWithoutItsPicture()
{
    QFETCH(QString, twin);

    const QString picture = twin.chopped(twinSuffix.size()) + QStringLiteral(".png");
    QVERIFY2(QFile::exists(resourceFolder + u'/' + picture),
             qPrintable(picture + QStringLiteral(" is missing")));
}

void tst_Pictures::eyeFramesKeepTheGreyGround_data()
{
    QTest::addColumn<QString>("name");

    for (const char *name : {"eye-open.png", "eye-open@2x.png", "eye-closed.png", "eye-closed@2x.png"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// The frames are shown on the window's grey, so their corners must be exactly
// that grey, over a twelfth of their side.
void tst_Pictures::eyeFramesKeepTheGreyGround()
{
    QFETCH(QString, name);

    const QImage frame = resourcePicture(name);
    QVERIFY(!frame.isNull());
    const int corner = frame.width() / 12;
    const int far = frame.width() - corner;
    for (const QPoint origin : {QPoint(0, 0), QPoint(far, 0), QPoint(0, far), QPoint(far, far)})
        for (int y = origin.y(); y < origin.y() + corner; ++y)
            for (int x = origin.x(); x < origin.x() + corner; ++x)
                QCOMPARE(frame.pixel(x, y), qRgb(128, 128, 128));
}

void tst_Pictures::handPointsWithItsFingertip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("hotSpot");

    QTest::newRow("1x") << QStringLiteral("pointing-hand.png") << QPoint(12, 1);
    QTest::newRow("2x") << QStringLiteral("pointing-hand@2x.png") << QPoint(24, 2);
}

// The hot spot is on the fingertip's outline, with nothing of the hand above it.
void tst_Pictures::handPointsWithItsFingertip()
{
    QFETCH(QString, name);
    QFETCH(QPoint, hotSpot);

    const QImage hand = resourcePicture(name);
    QVERIFY(!hand.isNull());
    QCOMPARE(hand.pixel(hotSpot), qRgb(0, 0, 0));
    for (int y = 0; y < hotSpot.y(); ++y)
        QCOMPARE(qAlpha(hand.pixel(hotSpot.x(), y)), 0);
}

void tst_Pictures::themeIconsFitTheirSize_data()
{
    QTest::addColumn<QString>("icon");
    QTest::addColumn<int>("size");

    for (const QString &icon : QStringLiteral(TALLIX_ICONS).split(u' '))
        for (int size : {TALLIX_ICON_SIZES})
            QTest::addRow("%s-%d", qPrintable(icon), size) << icon << size;
}

// The sizes that are the windows' own icons too, in the resource, are drawn in
// a few colours; those only the application grids show must be full colour.
void tst_Pictures::themeIconsFitTheirSize()
{
    QFETCH(QString, icon);
    QFETCH(int, size);

    const QString name = QStringLiteral("%1-%2.png").arg(icon).arg(size);
    const QImage image(QStringLiteral(TALLIX_PICTURES_DIR "/") + name);
    QVERIFY2(!image.isNull(), qPrintable(name + QStringLiteral(" is missing")));
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
    if (!QFile::exists(resourceFolder + u'/' + name))
        QVERIFY(!isIndexed(image));
}

QTEST_GUILESS_MAIN(tst_Pictures)
#include "tst_pictures.moc"
