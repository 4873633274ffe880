// The thumbnail: format by extension, the size rules, decoding of the catalogue's picture types,
// and the placeholder for files that are not pictures, damaged, or claim absurd sizes.

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "app/app_test_support.h"
#include "imaging/picture_decoder.h"
#include "imaging/picture_format.h"
#include "imaging/placeholder_picture.h"
#include "imaging/thumbnail.h"
#include "support/fixture_samples.h"

namespace kestrel {
namespace {

// CRC-32 of PNG chunks (type and data).
quint32 Crc32(const QByteArray& bytes) {
  quint32 crc = 0xFFFFFFFFu;
  for (char c : bytes) {
    crc ^= static_cast<quint8>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

QByteArray BigEndian(quint32 value) {
  QByteArray bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
  return bytes;
}

QByteArray PngChunk(const char* type, const QByteArray& data) {
  const QByteArray body = QByteArray(type) + data;
  return BigEndian(static_cast<quint32>(data.size())) + body + BigEndian(Crc32(body));
}

// A well-formed PNG header that claims `width` x `height` pixels, with no pixel data after it.
QByteArray PngClaiming(quint32 width, quint32 height) {
  QByteArray header = BigEndian(width) + BigEndian(height);
  header += QByteArray("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA
  return QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) +
         PngChunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + PngChunk("IEND", {});
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString Sample(const char* name) {
  return QString::fromStdString(testing::FixtureSamplesDir()) + QStringLiteral("/") +
         QString::fromLatin1(name);
}

}  // namespace

class ThumbnailTest : public QObject {
  Q_OBJECT

 private slots:
  void FormatComesFromTheTextAfterTheLastDot() {
    QCOMPARE(PictureFormatForName("photo.backup.JPG"), PictureFormat::kJpg);
    QCOMPARE(PictureFormatForName("KES00001.png"), PictureFormat::kPng);
    QCOMPARE(PictureFormatForName("scan.Tif"), PictureFormat::kTif);
    QCOMPARE(PictureFormatForName("clip.wmf"), PictureFormat::kWmf);
    QCOMPARE(PictureFormatForName("image.jpeg"), PictureFormat::kNone);
    QCOMPARE(PictureFormatForName("README"), PictureFormat::kNone);
    QCOMPARE(PictureFormatForName("archive.jpg.zip"), PictureFormat::kNone);
  }

  void EachSideIsLimitedToItsOwnRangeAndCentred() {
    QCOMPARE(PlaceThumbnail(20, 20), (ThumbnailPlacement{46, 46, 32, 32}));
    QCOMPARE(PlaceThumbnail(640, 480), (ThumbnailPlacement{0, 0, 125, 125}));
    QCOMPARE(PlaceThumbnail(100, 50), (ThumbnailPlacement{12, 37, 100, 50}));
    QCOMPARE(PlaceThumbnail(1, 4000), (ThumbnailPlacement{46, 0, 32, 125}));
  }

  void SmallPictureIsStretchedTo32PixelsAtOffset46() {
    QTemporaryDir dir;
    QImage red(20, 20, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString path = dir.filePath(QStringLiteral("tiny.png"));
    QVERIFY(red.save(path, "PNG"));
    const QImage thumbnail = MakeThumbnail(path, PictureFormat::kPng);
    QCOMPARE(thumbnail.size(), QSize(125, 125));
    // Inside the 32 x 32 square at (46, 46): red; just outside it: nothing drawn.
    QCOMPARE(thumbnail.pixelColor(46, 46), QColor(Qt::red));
    QCOMPARE(thumbnail.pixelColor(77, 77), QColor(Qt::red));
    QCOMPARE(thumbnail.pixelColor(45, 46).alpha(), 0);
    QCOMPARE(thumbnail.pixelColor(78, 77).alpha(), 0);
    QCOMPARE(thumbnail.pixelColor(46, 78).alpha(), 0);
  }

  void WidePictureKeepsItsHeightAndIsCentred() {
    QTemporaryDir dir;
    QImage blue(100, 50, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    const QString path = dir.filePath(QStringLiteral("wide.bmp"));
    QVERIFY(blue.save(path, "BMP"));
    const QImage thumbnail = MakeThumbnail(path, PictureFormat::kBmp);
    QCOMPARE(thumbnail.pixelColor(12, 37), QColor(Qt::blue));
    QCOMPARE(thumbnail.pixelColor(111, 86), QColor(Qt::blue));
    QCOMPARE(thumbnail.pixelColor(11, 37).alpha(), 0);
    QCOMPARE(thumbnail.pixelColor(12, 36).alpha(), 0);
    QCOMPARE(thumbnail.pixelColor(112, 86).alpha(), 0);
  }

  void CataloguePicturesDecode_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("format");
    QTest::newRow("bmp") << "picture.bmp" << static_cast<int>(PictureFormat::kBmp);
    QTest::newRow("gif") << "picture.gif" << static_cast<int>(PictureFormat::kGif);
    QTest::newRow("jpg") << "jfif.jpg" << static_cast<int>(PictureFormat::kJpg);
    QTest::newRow("exif jpg") << "exif.jpg" << static_cast<int>(PictureFormat::kJpg);
    QTest::newRow("png") << "picture.png" << static_cast<int>(PictureFormat::kPng);
    QTest::newRow("ico") << "icon.ico" << static_cast<int>(PictureFormat::kIco);
  }
  void CataloguePicturesDecode() {
    QFETCH(QString, file);
    QFETCH(int, format);
    const QString path = Sample(file.toLatin1().constData());
    QVERIFY2(ReadPictureSize(path, static_cast<PictureFormat>(format)).has_value(),
             qPrintable(path));
    QVERIFY(MakeThumbnail(path, static_cast<PictureFormat>(format)) != PlaceholderPicture());
  }

  void TiffDecodesThroughTheImageFormatsPlugin() {
    QTemporaryDir dir;
    QImage green(40, 30, QImage::Format_RGB32);
    green.fill(Qt::green);
    const QString path = dir.filePath(QStringLiteral("scan.tif"));
    if (!green.save(path, "TIFF")) QSKIP("no TIFF writer: install qt6-image-formats-plugins");
    const QImage thumbnail = MakeThumbnail(path, PictureFormat::kTif);
    QCOMPARE(thumbnail.pixelColor(62, 62), QColor(Qt::green));
  }

  void PlaceholderForEverythingThatCannotBePreviewed() {
    QTemporaryDir dir;
    const QImage placeholder = PlaceholderPicture();
    QCOMPARE(placeholder.size(), QSize(125, 125));
    // Not a picture type, or a type without a decoder.
    QCOMPARE(MakeThumbnail(Sample("picture.png"), PictureFormat::kNone), placeholder);
    QCOMPARE(MakeThumbnail(Sample("standard.wmf"), PictureFormat::kWmf), placeholder);
    // A file that is missing, random bytes named .JPG, and a PNG named .JPG.
    QCOMPARE(MakeThumbnail(dir.filePath(QStringLiteral("gone.jpg")), PictureFormat::kJpg),
             placeholder);
    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919) % 251);
    const QString noise_path = dir.filePath(QStringLiteral("noise.JPG"));
    QVERIFY(WriteBytes(noise_path, noise));
    QCOMPARE(MakeThumbnail(noise_path, PictureFormat::kJpg), placeholder);
    QCOMPARE(MakeThumbnail(Sample("picture.png"), PictureFormat::kJpg), placeholder);
    // An empty file.
    const QString empty = dir.filePath(QStringLiteral("empty.png"));
    QVERIFY(WriteBytes(empty, {}));
    QCOMPARE(MakeThumbnail(empty, PictureFormat::kPng), placeholder);
  }

  void AbsurdDimensionsAreRefusedBeforeDecoding() {
    QTemporaryDir dir;
    const QString huge = dir.filePath(QStringLiteral("huge.png"));
    QVERIFY(WriteBytes(huge, PngClaiming(60000, 60000)));
    // The header is read and believed...
    QCOMPARE(ReadPictureSize(huge, PictureFormat::kPng), std::optional<QSize>(QSize(60000, 60000)));
    // ...and the picture is refused without allocating 14 GB.
    QCOMPARE(MakeThumbnail(huge, PictureFormat::kPng), PlaceholderPicture());
    // Within the side limit but above the pixel limit.
    const QString wide = dir.filePath(QStringLiteral("wide.png"));
    QVERIFY(WriteBytes(wide, PngClaiming(30000, 20000)));
    QVERIFY(!DecodePicture(wide, PictureFormat::kPng, [](QSize s) { return s; }).has_value());
    // Zero width.
    const QString flat = dir.filePath(QStringLiteral("flat.png"));
    QVERIFY(WriteBytes(flat, PngClaiming(0, 10)));
    QCOMPARE(MakeThumbnail(flat, PictureFormat::kPng), PlaceholderPicture());
  }

  void SizeGuardRefusesByTheHeaderAlone() {
    QTemporaryDir dir;
    QImage strip(200, 10, QImage::Format_RGB32);
    strip.fill(Qt::black);
    const QString path = dir.filePath(QStringLiteral("strip.png"));
    QVERIFY(strip.save(path, "PNG"));
    auto same = [](QSize size) { return size; };
    QVERIFY(DecodePicture(path, PictureFormat::kPng, same).has_value());
    DecodeLimits narrow;
    narrow.max_side = 100;
    QVERIFY(!DecodePicture(path, PictureFormat::kPng, same, narrow).has_value());
    DecodeLimits small;
    small.max_pixels = 1999;
    QVERIFY(!DecodePicture(path, PictureFormat::kPng, same, small).has_value());
    // A picture is decoded straight at the size it is drawn at where the format allows it.
    auto halve = [](QSize size) { return size / 2; };
    std::optional<DecodedPicture> scaled = DecodePicture(path, PictureFormat::kPng, halve);
    QVERIFY(scaled.has_value());
    QCOMPARE(scaled->original_size, QSize(200, 10));
    QCOMPARE(scaled->image.size(), QSize(100, 5));
  }

  void TruncatedPictureNeverFails() {
    QTemporaryDir dir;
    QFile sample(Sample("picture.png"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray bytes = sample.readAll();
    const QString cut = dir.filePath(QStringLiteral("cut.png"));
    QVERIFY(WriteBytes(cut, bytes.left(bytes.size() / 3)));
    // Whatever the decoder makes of it, the result is a 125 x 125 picture.
    QCOMPARE(MakeThumbnail(cut, PictureFormat::kPng).size(), QSize(125, 125));
  }
};

KESTREL_APP_TEST_GROUP(ThumbnailTest, "thumbnail");

}  // namespace kestrel

#include "thumbnail_test.moc"
