// Camera photos through the editor: EXIF, XMP and the colour profile kept
// (read back with exiv2 itself), the EXIF orientation applied on opening
// and reset on saving, the JPEG quality kept, and a 45 megapixel photo
// opened, tilted and saved.
#include "EditorCore.h"
#include "MainWindow.h"
#include "Metadata.h"
#include "Screenshots.h"

#include <QAbstractButton>
#include <QColorSpace>
#include <QDialog>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include "ImageIO.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace talvine::editor {
namespace {

std::vector<uint8_t> fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray a = f.readAll();
    return {a.begin(), a.end()};
}

// Writes `image` as a JPEG at `quality`, tagged as a camera would.
void writePhoto(const QString& path, const QImage& image, int quality, int orientation) {
    QImageWriter writer(path, "jpeg");
    writer.setQuality(quality);
    ASSERT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    auto photo = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    photo->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Talvine Optics";
    exif["Exif.Image.Model"] = "TX-45";
    exif["Exif.Image.Orientation"] = static_cast<uint16_t>(orientation);
    exif["Exif.Photo.DateTimeOriginal"] = "2024:06:01 18:30:00";
    exif["Exif.Photo.PixelXDimension"] = static_cast<uint32_t>(image.width());
    exif["Exif.Photo.PixelYDimension"] = static_cast<uint32_t>(image.height());
    photo->setExifData(exif);
    Exiv2::XmpData xmp;
    xmp["Xmp.dc.creator"] = "A. Photographer";
    xmp["Xmp.tiff.Orientation"] = std::to_string(orientation);
    photo->setXmpData(xmp);
    const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
    Exiv2::DataBuf profile(reinterpret_cast<const Exiv2::byte*>(icc.constData()),
                           static_cast<long>(icc.size()));
    photo->setIccProfile(profile);
    photo->writeMetadata();
}

struct ReadBack {
    std::string make, date, creator;
    long orientation = -1, width = -1, height = -1;
    std::string xmpOrientation;
    std::vector<uint8_t> icc;
};

ReadBack readBack(const QString& path) {
    ReadBack r;
    auto photo = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    photo->readMetadata();
    Exiv2::ExifData& exif = photo->exifData();
    auto text = [&](const char* key) {
        auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? std::string() : it->toString();
    };
    auto number = [&](const char* key) {
        auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? -1L : it->toLong();
    };
    r.make = text("Exif.Image.Make");
    r.date = text("Exif.Photo.DateTimeOriginal");
    r.orientation = number("Exif.Image.Orientation");
    r.width = number("Exif.Photo.PixelXDimension");
    r.height = number("Exif.Photo.PixelYDimension");
    Exiv2::XmpData& xmp = photo->xmpData();
    auto creator = xmp.findKey(Exiv2::XmpKey("Xmp.dc.creator"));
    if (creator != xmp.end()) r.creator = creator->toString();
    auto o = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    if (o != xmp.end()) r.xmpOrientation = o->toString();
    if (photo->iccProfileDefined())
        r.icc.assign(photo->iccProfile()->pData_,
                     photo->iccProfile()->pData_ + photo->iccProfile()->size_);
    return r;
}

std::vector<uint8_t> srgbProfile() {
    const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
    return {icc.begin(), icc.end()};
}

// A picture of coloured 16-pixel blocks, `columns` x `rows`, each its own
// colour, so that a turned or mirrored copy shows where each block went.
QImage blocks(int columns, int rows) {
    QImage image(columns * 16, rows * 16, QImage::Format_RGB888);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    image.setPixelColor(c * 16 + x, r * 16 + y,
                                        QColor(40 + c * 70, 40 + r * 100, (c + r) % 2 ? 220 : 30));
    return image;
}

TEST(Metadata, JpegQualityIsReadBackFromTheTables) {
    QTemporaryDir dir;
    const QImage image = blocks(4, 3);
    for (int q : {35, 60, 75, 92, 100}) {
        SCOPED_TRACE(q);
        const QString path = dir.filePath(QString("q%1.jpg").arg(q));
        QImageWriter writer(path, "jpeg");
        writer.setQuality(q);
        ASSERT_TRUE(writer.write(image));
        EXPECT_EQ(hosts::estimateJpegQuality(fileBytes(path)), q);
    }
    const QString png = dir.filePath("p.png");
    ASSERT_TRUE(image.save(png));
    EXPECT_EQ(hosts::estimateJpegQuality(fileBytes(png)), 0);
    std::vector<uint8_t> cut = fileBytes(dir.filePath("q60.jpg"));
    cut.resize(30);
    EXPECT_EQ(hosts::estimateJpegQuality(cut), 0) << "cut before its tables";
    EXPECT_EQ(hosts::estimateJpegQuality({}), 0);
}

TEST(Metadata, EachOrientationTurnsThePictureAsQtShowsIt) {
    QTemporaryDir dir;
    const QImage image = blocks(3, 2);
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const QString path = dir.filePath(QString("o%1.jpg").arg(o));
        writePhoto(path, image, 100, o);
        QImageReader upright(path);
        upright.setAutoTransform(true);
        const QImage want = upright.read();
        QImageReader raw(path);
        raw.setAutoTransform(false);
        Picture got = fromImage(raw.read());
        hosts::PhotoMetadata m = hosts::PhotoMetadata::read(QFile::encodeName(path).toStdString());
        ASSERT_EQ(m.orientation(), o);
        EXPECT_EQ(hosts::orientationText(o).empty(), o == 1);
        hosts::applyOrientation(got.rgb, got.width, got.height, m.orientation());
        ASSERT_EQ(got.width, want.width());
        ASSERT_EQ(got.height, want.height());
        const QImage mine = toImage(got);
        for (int y = 8; y < got.height; y += 16)
            for (int x = 8; x < got.width; x += 16) {
                const QColor a = mine.pixelColor(x, y), b = want.pixelColor(x, y);
                EXPECT_LE(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                              std::abs(a.blue() - b.blue()),
                          12)
                    << "block at " << x << ", " << y;
            }
    }
}

TEST(Metadata, BadInputIsAnErrorAndNoMetadataIsNoChange) {
    EXPECT_THROW(hosts::PhotoMetadata::read("/nonexistent/photo.jpg"), hosts::MetadataError);
    EXPECT_THROW(hosts::PhotoMetadata::fromBytes({1, 2, 3, 4}), hosts::MetadataError);
    const hosts::PhotoMetadata none;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.orientation(), 1);
    const std::vector<uint8_t> bytes = {9, 8, 7};
    EXPECT_EQ(none.writeInto(bytes, 1, 1), bytes);
    std::vector<uint8_t> rgb(6, 1);
    int32_t w = 2, h = 2;
    EXPECT_THROW(hosts::applyOrientation(rgb, w, h, 6), std::invalid_argument)
        << "pixels short of the size";
}

class PhotoTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        core_ = new EditorCore(TALVINE_MODULE_PATH);
        window_ = new MainWindow(*core_);
        window_->show();
    }
    static void TearDownTestSuite() {
        delete window_;
        delete core_;
    }
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        window_->openSample();
    }

    static void clickCanvasAt(QPoint pixel) {
        Canvas& c = window_->canvas();
        const QPoint at = c.toWidget(pixel).toPoint();
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, at, c.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
            QCoreApplication::sendEvent(&c, &e);
        }
    }
    static void click(QDialog* d, const char* name) {
        auto* b = d ? d->findChild<QAbstractButton*>(name) : nullptr;
        ASSERT_NE(b, nullptr) << name;
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }
    // Tilts the picture from two points picked as a user picks them.
    static void tilt(QPoint from, QPoint to) {
        window_->commandAction(3)->trigger();
        QDialog* d = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] { return (d = openDialog()) != nullptr; }, 3000));
        click(d, "PtRot1");
        QTest::qWait(250);
        clickCanvasAt(from);
        click(d, "PtRot2");
        QTest::qWait(250);
        clickCanvasAt(to);
        click(d, "Appliquer");
        ASSERT_FALSE(core_->busy());
    }
    static QString note() { return window_->statusBar()->currentMessage(); }

    static EditorCore* core_;
    static MainWindow* window_;
    QTemporaryDir dir_;
};

EditorCore* PhotoTest::core_ = nullptr;
MainWindow* PhotoTest::window_ = nullptr;

TEST_F(PhotoTest, ATurnedPhotoOpensUprightAndSavesWithItsMetadataAndQuality) {
    const QString in = dir_.filePath("portrait.jpg");
    writePhoto(in, blocks(40, 30), 85, 6); // stored lying, shown standing
    ASSERT_TRUE(window_->openFile(in));
    EXPECT_EQ(core_->width(), 480);
    EXPECT_EQ(core_->height(), 640);
    EXPECT_TRUE(note().contains("turned 90° clockwise")) << note().toStdString();
    EXPECT_EQ(window_->jpegQuality(), 85);

    window_->commandAction(1)->trigger(); // a quarter turn back to lying
    ASSERT_EQ(core_->width(), 640);
    const QString out = dir_.filePath("out.jpg");
    ASSERT_TRUE(window_->saveFile(out));
    EXPECT_TRUE(note().startsWith("Saved out.jpg: 640 × 480, JPEG quality 85"))
        << note().toStdString();
    EXPECT_TRUE(note().contains("EXIF")) << note().toStdString();
    EXPECT_FALSE(core_->modified());

    const ReadBack r = readBack(out);
    EXPECT_EQ(r.make, "Talvine Optics");
    EXPECT_EQ(r.date, "2024:06:01 18:30:00");
    EXPECT_EQ(r.creator, "A. Photographer");
    EXPECT_EQ(r.orientation, 1) << "the pixels are written upright";
    EXPECT_EQ(r.xmpOrientation, "1");
    EXPECT_EQ(r.width, 640);
    EXPECT_EQ(r.height, 480);
    EXPECT_EQ(r.icc, srgbProfile());
    EXPECT_EQ(hosts::estimateJpegQuality(fileBytes(out)), 85);
    // Every viewer now shows what the editor showed.
    QImageReader shown(out);
    shown.setAutoTransform(true);
    EXPECT_EQ(shown.read().size(), QSize(640, 480));

    // A chosen quality wins, and PNG keeps the metadata too.
    const QString low = dir_.filePath("low.jpg");
    ASSERT_TRUE(window_->saveFile(low, 50));
    EXPECT_EQ(hosts::estimateJpegQuality(fileBytes(low)), 50);
    const QString png = dir_.filePath("out.png");
    ASSERT_TRUE(window_->saveFile(png));
    EXPECT_EQ(readBack(png).make, "Talvine Optics");
    EXPECT_EQ(readBack(png).icc, srgbProfile());
    // The profile's chunk has a name, as libpng requires of it, and no
    // chunk says sRGB beside it.
    const std::vector<uint8_t> bytes = fileBytes(png);
    const std::string text(bytes.begin(), bytes.end());
    const auto iccp = text.find("iCCP");
    ASSERT_NE(iccp, std::string::npos);
    EXPECT_EQ(text.compare(iccp + 4, 12, std::string("ICC profile\0", 12)), 0);
    EXPECT_EQ(text.find("sRGB"), std::string::npos);
    EXPECT_EQ(text.find("gAMA"), std::string::npos);
}

TEST_F(PhotoTest, ASaveThatCannotBeWrittenLeavesTheOldFileAndSaysSo) {
    const QString in = dir_.filePath("keep.jpg");
    writePhoto(in, blocks(8, 6), 90, 1);
    const std::vector<uint8_t> before = fileBytes(in);
    ASSERT_TRUE(window_->openFile(in));
    window_->commandAction(4)->trigger();
    ASSERT_TRUE(core_->modified());
    bool warned = false;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warned = box->text().contains("Cannot save");
            box->reject();
        }
    });
    EXPECT_FALSE(window_->saveFile(dir_.filePath("no/such/folder/x.jpg")));
    EXPECT_TRUE(warned);
    EXPECT_TRUE(core_->modified()) << "nothing was saved";
    EXPECT_EQ(fileBytes(in), before);
}

TEST_F(PhotoTest, AFortyFiveMegapixelPhotoOpensTiltsAndSavesWithItsMetadata) {
    // 8256 x 5504, as a common 45 MP camera writes; over Qt's own default
    // limit of 128 MB for a decoded picture.
    QImage image(8256, 5504, QImage::Format_RGB888);
    image.fill(QColor(90, 140, 200));
    for (int y = 3000; y < 5504; ++y)
        std::memset(image.scanLine(y), 60, static_cast<size_t>(image.bytesPerLine()));
    const QString in = dir_.filePath("big.jpg");
    writePhoto(in, image, 92, 1);
    image = QImage();

    ASSERT_TRUE(window_->openFile(in));
    ASSERT_EQ(core_->width(), 8256);
    ASSERT_EQ(core_->height(), 5504);
    EXPECT_TRUE(window_->fitted());
    tilt({400, 3100}, {7800, 2900});
    EXPECT_TRUE(core_->modified());
    EXPECT_EQ(core_->undoName(), core_->identity().captions[2]);
    // Turned by about 1.5°: the corner now lies outside the source.
    const uint8_t* corner = core_->pixels();
    EXPECT_NE(std::vector<int>(corner, corner + 3), (std::vector<int>{90, 140, 200}));
    const QString out = dir_.filePath("big-out.jpg");
    ASSERT_TRUE(window_->saveFile(out));
    const ReadBack r = readBack(out);
    EXPECT_EQ(r.make, "Talvine Optics");
    EXPECT_EQ(r.width, 8256);
    EXPECT_EQ(r.height, 5504);
    EXPECT_EQ(r.icc, srgbProfile());
    QImageReader back(out);
    EXPECT_EQ(back.size(), QSize(8256, 5504));
}

} // namespace
// The editor opens and saves every format the tool writes, through the same
// code: a TIFF and a WebP in, each kind out, the pixels as the tool reads
// them.
TEST_F(PhotoTest, OpensAndSavesTiffAndWebpAsTheToolDoes) {
    hosts::Picture picture{48, 32, std::vector<uint8_t>(48 * 32 * 3)};
    for (size_t i = 0; i < picture.rgb.size(); ++i)
        picture.rgb[i] = static_cast<uint8_t>(i * 7 % 251);
    for (const char* name : {"in.tif", "in.webp"}) {
        const QString in = dir_.filePath(name);
        cli::WriteOptions lossless;
        lossless.webpLossless = true;
        cli::writePicture(QFile::encodeName(in).toStdString(),
                          {picture.width, picture.height, picture.rgb.data()}, lossless);
        ASSERT_TRUE(window_->openFile(in)) << name;
        EXPECT_EQ(core_->picture().rgb, picture.rgb) << name;
        for (const char* ext : {"tif", "webp", "png"}) {
            const QString out = dir_.filePath(QString("out.") + ext);
            ASSERT_TRUE(window_->saveFile(out)) << ext;
            const hosts::Picture back = cli::readPicture(QFile::encodeName(out).toStdString());
            if (std::string(ext) != "webp") {
                EXPECT_EQ(back.rgb, picture.rgb) << ext; // WebP writes lossy by default
            }
            EXPECT_EQ(back.width, 48);
        }
    }
}

// Ctrl+S over a camera's original asks once, offering Save As; cancelled,
// nothing is written; written over once, it asks no more.
TEST_F(PhotoTest, SavingOverACameraOriginalAsksOnce) {
    const QString in = dir_.filePath("camera.jpg");
    writePhoto(in, blocks(40, 30), 90, 1);
    ASSERT_TRUE(window_->openFile(in));
    const std::vector<uint8_t> original = fileBytes(in);
    // Answers the next box by the text of one of its buttons.
    auto answer = [](const QString& button, QString* asked) {
        QTimer::singleShot(0, [=] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            *asked = box->text();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == button) return b->click();
            box->reject();
        });
    };
    window_->commandAction(4)->trigger();
    QString asked;
    answer("Cancel", &asked);
    EXPECT_FALSE(window_->save());
    EXPECT_EQ(asked, "camera.jpg is a camera original.");
    EXPECT_EQ(fileBytes(in), original);

    asked.clear();
    answer("Write Over", &asked);
    EXPECT_TRUE(window_->save());
    EXPECT_FALSE(asked.isEmpty());
    EXPECT_NE(fileBytes(in), original);

    window_->commandAction(4)->trigger();
    asked.clear();
    answer("Cancel", &asked);
    EXPECT_TRUE(window_->save());
    EXPECT_TRUE(asked.isEmpty()) << "asked twice";
    QTest::qWait(50); // the unanswered timer finds no box
}

} // namespace talvine::editor

#pragma GCC diagnostic pop
