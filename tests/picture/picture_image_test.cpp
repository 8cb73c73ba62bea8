// CPictureImage: sizes at several resolutions, the sample pictures of every kind, every refusal with its
// message, damaged metafiles, and metafile renderings against renderings made by other programs.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "picture/picture_image.h"

using vox::CPictureImage;

namespace {

const QString kData = QStringLiteral(VOX_PICTURE_DATA);
const QString kUnsupported = QString::fromUtf8(vox::kUnsupportedText);
const QString kCannotOpen = QString::fromUtf8(vox::kCannotOpenText);

// A small metafile writer: records of 16-bit words behind a placeable header (or none).
class WmfBuilder {
public:
    WmfBuilder& Record(std::uint16_t function, std::initializer_list<int> params) {
        Put32(std::uint32_t(3 + params.size()));
        m_body.push_back(function);
        for (int p : params) m_body.push_back(std::uint16_t(p));
        return *this;
    }
    WmfBuilder& Raw(std::initializer_list<std::uint16_t> words) {
        m_body.insert(m_body.end(), words);
        return *this;
    }
    QByteArray Bytes(bool placeable, int right, int bottom, int inch, int objects = 4) const {
        std::vector<std::uint16_t> w;
        if (placeable) w = {0xCDD7, 0x9AC6, 0, 0, 0, std::uint16_t(right), std::uint16_t(bottom), std::uint16_t(inch), 0, 0, 0};
        const std::uint32_t total = std::uint32_t(9 + m_body.size() + 3);
        w.insert(w.end(), {1, 9, 0x0300, std::uint16_t(total & 0xFFFF), std::uint16_t(total >> 16),
                           std::uint16_t(objects), 100, 0, 0});
        w.insert(w.end(), m_body.begin(), m_body.end());
        w.insert(w.end(), {3, 0, 0});
        QByteArray bytes;
        for (std::uint16_t v : w) bytes.append(char(v & 0xFF)).append(char(v >> 8));
        return bytes;
    }

private:
    void Put32(std::uint32_t v) {
        m_body.push_back(std::uint16_t(v & 0xFFFF));
        m_body.push_back(std::uint16_t(v >> 16));
    }
    std::vector<std::uint16_t> m_body;
};

QString WriteTemp(QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QRgb At(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

}  // namespace

TEST(MulDiv, RoundsHalvesAwayFromZeroAndRefusesWhatDoesNotFit) {
    struct Case { int number, numerator, denominator, expected; };
    for (const Case& c : std::initializer_list<Case>{{2540, 96, 2540, 96}, {1270, 96, 2540, 48},
                                                     {5, 1, 2, 3}, {-5, 1, 2, -3}, {5, -1, 2, -3},
                                                     {7, 1, 4, 2}, {-7, 1, 4, -2}, {1, 1, 0, -1},
                                                     {INT_MAX, 2, 1, -1}, {INT_MAX, 2, 2, INT_MAX}})
        EXPECT_EQ(vox::MulDiv(c.number, c.numerator, c.denominator), c.expected)
            << c.number << " * " << c.numerator << " / " << c.denominator;
}

// A metafile of 2540 by 1270 HIMETRIC (placeable box in HIMETRIC units) at three screen resolutions.
TEST(PictureImage, MetafileSizeFollowsTheScreenResolution) {
    QTemporaryDir dir;
    const QString path = WriteTemp(dir, "size.wmf", WmfBuilder().Bytes(true, 2540, 1270, 2540));
    struct Case { int dpi; QSize expected; };
    for (const Case& c : {Case{96, {96, 48}}, Case{120, {120, 60}}, Case{144, {144, 72}}}) {
        CPictureImage picture;
        ASSERT_TRUE(picture.LoadFromFile(path, c.dpi, c.dpi)) << c.dpi;
        EXPECT_EQ(picture.HimetricWidth(), 2540);
        EXPECT_EQ(picture.HimetricHeight(), 1270);
        EXPECT_EQ(picture.TakeBitmap().size(), c.expected) << c.dpi;
    }
}

// Every raster sample keeps its own pixel size on any screen, shows its red mark at the top left, and
// shows white where the picture is transparent.
TEST(PictureImage, RasterSamplesTileAtTheirOwnPixelSize) {
    struct Case { const char* file; QSize size; };
    for (const Case& c : {Case{"base-96dpi.jpg", {120, 80}}, Case{"base-nodpi.jpg", {120, 80}},
                          Case{"prog-300dpi.jpg", {120, 80}}, Case{"transparent.gif", {64, 48}},
                          Case{"animated.gif", {64, 48}}, Case{"rgb24.bmp", {64, 48}}, Case{"pal8.bmp", {64, 48}},
                          Case{"mono1.bmp", {64, 48}}, Case{"rgb32.bmp", {64, 48}}, Case{"topdown24.bmp", {64, 48}}}) {
        const QString path = kData + "/" + c.file;
        for (int dpi : {96, 144}) {
            CPictureImage picture;
            ASSERT_TRUE(picture.LoadFromFile(path, dpi, dpi)) << c.file << " " << picture.ErrorText().toStdString();
            const QImage tile = picture.TakeBitmap();
            EXPECT_EQ(tile.size(), c.size) << c.file << " at " << dpi;
            if (std::string(c.file) != "mono1.bmp") {
                const QColor mark = tile.pixelColor(2, 2);
                EXPECT_TRUE(mark.red() > 150 && mark.green() < 100 && mark.blue() < 100) << c.file;
            }
            const QImage source(path);
            for (int y = 0; y < source.height(); ++y)
                for (int x = 0; x < source.width(); ++x)
                    if (source.hasAlphaChannel() && qAlpha(source.pixel(x, y)) == 0) {
                        ASSERT_EQ(At(tile, x, y), 0xFFFFFFu) << c.file << " transparent pixel " << x << "," << y;
                    }
        }
    }
}

TEST(PictureImage, RefusesWhatItCannotOpenOrDecode) {
    QTemporaryDir dir;
    struct Case { QString path; QString message; };
    const std::vector<Case> cases = {
        {kData + "/no-such-file.jpg", kCannotOpen},
        {dir.path(), kCannotOpen},  // a folder
        {kData + "/empty.jpg", kUnsupported},
        {kData + "/text-named.jpg", kUnsupported},
        {kData + "/truncated.jpg", kUnsupported},
        {kData + "/huge-declared.bmp", kUnsupported},
        // Metafiles: no size at all, a box of zero width, zero units per inch.
        {WriteTemp(dir, "nosize.wmf", WmfBuilder().Record(0x041B, {10, 10, 0, 0}).Bytes(false, 0, 0, 0)), kUnsupported},
        {WriteTemp(dir, "flat.wmf", WmfBuilder().Bytes(true, 0, 100, 96)), kUnsupported},
        {WriteTemp(dir, "noinch.wmf", WmfBuilder().Bytes(true, 100, 100, 0)), kUnsupported},
        // Too big for a tile: a side past 16384 pixels, too many pixels, and the largest box there is.
        {WriteTemp(dir, "wide.wmf", WmfBuilder().Bytes(true, 20000, 10, 96)), kUnsupported},
        {WriteTemp(dir, "area.wmf", WmfBuilder().Bytes(true, 16000, 16000, 96)), kUnsupported},
        {WriteTemp(dir, "huge.wmf", WmfBuilder().Bytes(true, 32767, 32767, 1)), kUnsupported},
    };
    for (const Case& c : cases) {
        CPictureImage picture;
        EXPECT_FALSE(picture.LoadFromFile(c.path, 96, 96)) << c.path.toStdString();
        EXPECT_EQ(picture.ErrorText(), c.message) << c.path.toStdString();
        EXPECT_TRUE(picture.TakeBitmap().isNull());
    }
}

// Damage after a red rectangle: the rectangle is drawn, nothing past the damage is read, nothing crashes.
TEST(PictureImage, DamagedMetafileDrawsWhatCameBefore) {
    auto start = [] {
        WmfBuilder b;
        b.Record(0x02FC, {0, 0x00FF, 0, 0})  // CREATEBRUSHINDIRECT solid red
            .Record(0x012D, {0})             // SELECTOBJECT
            .Record(0x041B, {60, 60, 10, 10});  // RECTANGLE (10,10)-(60,60)
        return b;
    };
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"record size past the end", start().Raw({0xFFFF, 0x7FFF, 0x041B, 1, 2}).Bytes(true, 100, 100, 96)},
        {"zero record size", start().Raw({0, 0, 0x041B, 1, 2, 3, 4}).Bytes(true, 100, 100, 96)},
        {"polygon count past its record", start().Record(0x0324, {5000, 1, 2, 3, 4}).Bytes(true, 100, 100, 96)},
        {"polypolygon counts past its record",
         start().Record(0x0538, {2, 3, 60000, 1, 2, 3, 4, 5, 6}).Bytes(true, 100, 100, 96)},
        {"object index past the table", start().Record(0x012D, {300}).Record(0x041B, {90, 90, 70, 70}).Bytes(true, 100, 100, 96, 4)},
        {"text longer than its record", start().Record(0x0521, {4000, 0x4141, 5, 5}).Bytes(true, 100, 100, 96)},
        // A font deleted while selected, its slot taken by a brush, then text drawn with "the font".
        {"selected font deleted and its slot reused",
         start().Record(0x02FB, {-12, 0, 0, 0, 400, 0, 0, 0, 0x7241, 0x6169, 0x006C})
             .Record(0x012D, {1}).Record(0x01F0, {1}).Record(0x02FC, {0, 0x00FF, 0, 0}).Record(0x012D, {1})
             .Record(0x0521, {2, 0x6948, 90, 5}).Bytes(true, 100, 100, 96)},
        {"no end record", start().Bytes(true, 100, 100, 96).chopped(6)},
        {"header cut short", WmfBuilder().Bytes(true, 100, 100, 96).left(30)},
    };
    QTemporaryDir dir;
    for (const auto& [name, bytes] : cases) {
        CPictureImage picture;
        const bool ok = picture.LoadFromFile(WriteTemp(dir, "damaged.wmf", bytes), 96, 96);
        if (QByteArray(name) == "header cut short") {
            EXPECT_FALSE(ok);
            EXPECT_EQ(picture.ErrorText(), kUnsupported);
            continue;
        }
        ASSERT_TRUE(ok) << name;
        const QImage tile = picture.TakeBitmap();
        EXPECT_EQ(At(tile, 30, 30), 0xFF0000u) << name;
        EXPECT_EQ(At(tile, 80, 80), 0xFFFFFFu) << name;
    }
    // The sample damaged by another program: the shapes before its broken record are there.
    CPictureImage sample;
    ASSERT_TRUE(sample.LoadFromFile(kData + "/broken-record-size.wmf", 96, 96));
    const QImage tile = sample.TakeBitmap();
    EXPECT_EQ(tile.size(), QSize(384, 288));
    EXPECT_NE(tile.pixelColor(40, 30), QColor(Qt::white));
}

// Pixels worked out by hand: 1 unit = 1 pixel at 96 dpi. A filled rectangle covers its left and top
// edge but not its right and bottom one; a 5-pixel pen is centred on its line.
TEST(PictureImage, MetafileShapesLandOnTheExpectedPixels) {
    const QByteArray bytes = WmfBuilder()
                                 .Record(0x02FA, {5, 0, 0, 0, 0})       // CREATEPENINDIRECT null pen
                                 .Record(0x02FC, {0, 0x00FF, 0, 0})     // solid red brush
                                 .Record(0x012D, {0}).Record(0x012D, {1})
                                 .Record(0x041B, {60, 50, 20, 10})      // RECTANGLE (10,20)-(50,60)
                                 .Record(0x02FA, {0, 5, 0, 0, 0})       // black pen, 5 units wide
                                 .Record(0x012D, {2})
                                 .Record(0x0214, {80, 10}).Record(0x0213, {80, 90})  // MOVETO, LINETO
                                 .Bytes(true, 100, 100, 96);
    QTemporaryDir dir;
    CPictureImage picture;
    ASSERT_TRUE(picture.LoadFromFile(WriteTemp(dir, "exact.wmf", bytes), 96, 96));
    const QImage tile = picture.TakeBitmap();
    ASSERT_EQ(tile.size(), QSize(100, 100));
    struct Probe { int x, y; QRgb rgb; };
    for (const Probe& p : {Probe{10, 20, 0xFF0000}, Probe{49, 59, 0xFF0000}, Probe{49, 20, 0xFF0000},
                           Probe{9, 20, 0xFFFFFF}, Probe{10, 19, 0xFFFFFF}, Probe{50, 59, 0xFFFFFF},
                           Probe{49, 60, 0xFFFFFF}, Probe{50, 78, 0x000000}, Probe{50, 82, 0x000000},
                           Probe{50, 77, 0xFFFFFF}, Probe{50, 83, 0xFFFFFF}, Probe{0, 0, 0xFFFFFF}})
        EXPECT_EQ(At(tile, p.x, p.y), p.rgb) << p.x << "," << p.y;

    // Clipping inside a saved context: a band cut to x 0..50 with 20..30 taken out, then the context
    // restored and a second band drawn unclipped.
    const QByteArray clipped = WmfBuilder()
                                   .Record(0x02FA, {5, 0, 0, 0, 0})
                                   .Record(0x02FC, {0, 0x00FF, 0, 0})
                                   .Record(0x02FC, {0, 0, 0x00FF, 0})  // solid blue
                                   .Record(0x012D, {0}).Record(0x012D, {1})
                                   .Record(0x001E, {})                  // SAVEDC
                                   .Record(0x0416, {100, 50, 0, 0})     // INTERSECTCLIPRECT (0,0)-(50,100)
                                   .Record(0x0415, {100, 30, 0, 20})    // EXCLUDECLIPRECT (20,0)-(30,100)
                                   .Record(0x041B, {10, 100, 0, 0})     // RECTANGLE (0,0)-(100,10)
                                   .Record(0x0127, {-1})                // RESTOREDC
                                   .Record(0x012D, {2})
                                   .Record(0x041B, {30, 100, 20, 0})    // RECTANGLE (0,20)-(100,30)
                                   .Bytes(true, 100, 100, 96);
    CPictureImage clip;
    ASSERT_TRUE(clip.LoadFromFile(WriteTemp(dir, "clip.wmf", clipped), 96, 96));
    const QImage band = clip.TakeBitmap();
    for (const Probe& p : {Probe{10, 5, 0xFF0000}, Probe{19, 5, 0xFF0000}, Probe{20, 5, 0xFFFFFF},
                           Probe{29, 5, 0xFFFFFF}, Probe{30, 5, 0xFF0000}, Probe{49, 5, 0xFF0000},
                           Probe{50, 5, 0xFFFFFF}, Probe{25, 25, 0x0000FF}, Probe{90, 25, 0x0000FF}})
        EXPECT_EQ(At(band, p.x, p.y), p.rgb) << "clip " << p.x << "," << p.y;
}

// Each sample metafile against another program's rendering of it. Renderers differ in antialiasing, fonts
// and text placement, so both pictures are compared in blocks of 8 by 8 pixels by mean colour: a shape in
// the wrong place, size, colour or fill moves many blocks, a differently smoothed edge or glyph very few.
TEST(PictureImage, SampleMetafilesMatchOtherRenderers) {
    struct Case { const char* file; const char* reference; double allowed; };
    for (const Case& c : {Case{"libreoffice-shapes.wmf", "libreoffice-shapes.libreoffice.png", 0.06},
                          Case{"inkscape-shapes.wmf", "inkscape-shapes.inkscape.png", 0.06},
                          Case{"libuemf-records.wmf", "libuemf-records.libreoffice.png", 0.10}}) {
        CPictureImage picture;
        ASSERT_TRUE(picture.LoadFromFile(kData + "/" + c.file, 96, 96)) << c.file;
        const QImage ours = picture.TakeBitmap().convertToFormat(QImage::Format_RGB32);
        const QImage theirs = QImage(kData + "/render/" + c.reference).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(ours.size(), theirs.size()) << c.file;
        int blocks = 0, differing = 0;
        for (int by = 0; by + 8 <= ours.height(); by += 8)
            for (int bx = 0; bx + 8 <= ours.width(); bx += 8) {
                long sum[2][3] = {};
                for (int y = by; y < by + 8; ++y)
                    for (int x = bx; x < bx + 8; ++x)
                        for (int i = 0; i < 2; ++i) {
                            const QRgb p = (i ? theirs : ours).pixel(x, y);
                            sum[i][0] += qRed(p), sum[i][1] += qGreen(p), sum[i][2] += qBlue(p);
                        }
                int worst = 0;
                for (int k = 0; k < 3; ++k) worst = std::max<int>(worst, std::abs(sum[0][k] - sum[1][k]) / 64);
                ++blocks;
                if (worst > 48) ++differing;
            }
        EXPECT_LE(double(differing) / blocks, c.allowed) << c.file << ": " << differing << " of " << blocks;
    }
}

// Without a placeable header the picture is as large as its viewport says (400 by 200 pixels at 96 dpi).
TEST(PictureImage, MetafileWithoutPlaceableHeaderTakesItsFrameSize) {
    CPictureImage picture;
    ASSERT_TRUE(picture.LoadFromFile(kData + "/libuemf-noplaceable.wmf", 96, 96));
    EXPECT_EQ(picture.HimetricWidth(), 10583);
    EXPECT_EQ(picture.HimetricHeight(), 5292);
    EXPECT_EQ(picture.TakeBitmap().size(), QSize(400, 200));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // fonts for metafile text
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
