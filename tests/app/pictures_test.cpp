// The window's pictures: every shipped one decodes at its size through our
// own libjpeg decoder, and damaged input gives a null image, never a crash.

#include "Pictures.h"

#include <QFile>
#include <QGuiApplication>
#include <QRect>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ResourceBytes(const char* name)
{
    (void)kv::Picture(name);  // makes sure the resources are registered
    QFile f(QStringLiteral(":/pictures/%1.jpg").arg(QLatin1String(name)));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return Bytes(b.begin(), b.end());
}

QImage Decode(const Bytes& b)
{
    return kv::DecodeJpeg(b.data(), b.size());
}

// Offset of the first byte after the marker `code` (0xFF code), or npos.
std::size_t AfterMarker(const Bytes& b, unsigned char code)
{
    for (std::size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == code)
            return i + 2;
    return std::string::npos;
}

TEST(Pictures, EveryShippedPictureDecodesAtItsSize)
{
    for (const auto& pic : kv::pictures::kAll) {
        SCOPED_TRACE(pic.name);
        const Bytes jpeg = ResourceBytes(pic.name);
        ASSERT_FALSE(jpeg.empty());
        const QImage image = Decode(jpeg);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(pic.width, pic.height));
        const QPixmap pixmap = kv::Picture(pic.name);
        ASSERT_FALSE(pixmap.isNull());
        EXPECT_EQ(pixmap.size(), QSize(pic.width, pic.height));
    }
}

TEST(Pictures, ColoursComeOutInTheirOwnChannels)
{
    struct Case { const char* name; QPoint at; QColor expected; };
    const Case cases[] = {
        {kv::pictures::WiringA, {2, 2}, QColor(255, 255, 255)},       // paper
        {kv::pictures::GlyphNext, {1, 1}, QColor(240, 240, 240)},     // button face
        {kv::pictures::GlyphNext, {22, 16}, QColor(30, 90, 180)},     // blue arrow
        {kv::pictures::CalibrationOK, {16, 26}, QColor(30, 140, 50)}, // green disc
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QColor got = Decode(ResourceBytes(c.name)).pixelColor(c.at);
        EXPECT_NEAR(got.red(), c.expected.red(), 12);
        EXPECT_NEAR(got.green(), c.expected.green(), 12);
        EXPECT_NEAR(got.blue(), c.expected.blue(), 12);
    }
}

TEST(Pictures, UnknownNameGivesEmptyPixmap)
{
    for (const char* name : {"", "no_such_picture", "../pictures/wiring_a", "wiring_a.jpg"})
        EXPECT_TRUE(kv::Picture(QString::fromLatin1(name)).isNull()) << name;
}

TEST(Pictures, DamagedInputGivesNullImage)
{
    const Bytes good = ResourceBytes(kv::pictures::WiringC);
    ASSERT_GT(good.size(), 1000u);
    const std::size_t sof = AfterMarker(good, 0xC0);
    const std::size_t sos = AfterMarker(good, 0xDA);
    ASSERT_NE(sof, std::string::npos);
    ASSERT_NE(sos, std::string::npos);

    struct Case { const char* what; Bytes bytes; };
    std::vector<Case> cases;
    for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{20}, sof + 3, sos + 10,
                            good.size() / 2, good.size() - 2})
        cases.push_back({"truncated", Bytes(good.begin(), good.begin() + static_cast<long>(cut))});
    {
        Bytes b = good;
        b[0] = 0x00;  // no start-of-image marker
        cases.push_back({"no SOI", b});
    }
    {
        Bytes b = good;
        b[sof + 3] = 0; b[sof + 4] = 0;  // height 0
        cases.push_back({"zero height", b});
    }
    {
        Bytes b = good;
        b[sof + 3] = 0xFF; b[sof + 4] = 0xFF; b[sof + 5] = 0xFF; b[sof + 6] = 0xFF;  // 65535 x 65535
        cases.push_back({"huge size", b});
    }
    {
        Bytes b = good;
        b[sof + 3] = 0x04; b[sof + 4] = 0x01; b[sof + 5] = 0x04; b[sof + 6] = 0x01;  // 1025 x 1025
        cases.push_back({"just over the largest side", b});
    }
    {
        Bytes b = good;
        b[sof + 7] = 7;  // seven components
        cases.push_back({"bad component count", b});
    }
    {
        Bytes b = good;
        for (std::size_t i = sos + 20; i < sos + 60; ++i)
            b[i] = 0xFF;  // entropy data turned into marker soup
        cases.push_back({"corrupt scan", b});
    }
    cases.push_back({"empty", Bytes{}});
    cases.push_back({"SOI only", Bytes{0xFF, 0xD8}});
    cases.push_back({"SOI EOI", Bytes{0xFF, 0xD8, 0xFF, 0xD9}});
    std::mt19937 rng(20161125);
    for (std::size_t n : {1u, 3u, 64u, 4096u}) {
        Bytes b(n);
        for (auto& x : b)
            x = static_cast<unsigned char>(rng());
        cases.push_back({"random", b});
        if (n > 2) {
            b[0] = 0xFF; b[1] = 0xD8;
            cases.push_back({"random after SOI", b});
        }
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(c.bytes.size()) + " bytes");
        EXPECT_TRUE(kv::DecodeJpeg(c.bytes.data(), c.bytes.size()).isNull());
    }
    EXPECT_TRUE(kv::DecodeJpeg(nullptr, 0).isNull());
    EXPECT_TRUE(kv::DecodeJpeg(nullptr, 100).isNull());
    EXPECT_TRUE(kv::DecodeJpeg(good.data(), 0).isNull());
    // The good file still decodes after all that (no state left behind).
    EXPECT_FALSE(Decode(good).isNull());
}

TEST(Pictures, EveryCalibrationPageWithAPictureHasOne)
{
    // Input pages by caption number; the numbers 4, 8, 9, 12 and 14 have no
    // page and step 23 shows no picture.
    const char* letters = "AABxBCCxxDDxExEFFGHIIJ";
    for (int step = 1; step <= 23; ++step) {
        const char* pic = kv::pictures::InputCalibrationPicture(step);
        const char want = step <= 22 ? letters[step - 1] : 'x';
        if (want == 'x') {
            EXPECT_EQ(pic, nullptr) << step;
        } else {
            ASSERT_NE(pic, nullptr) << step;
            EXPECT_EQ(std::string(pic), std::string("wiring_") + char(want - 'A' + 'a')) << step;
        }
    }
    EXPECT_EQ(kv::pictures::InputCalibrationPicture(0), nullptr);
    for (int step : {1, 2})
        EXPECT_STREQ(kv::pictures::OutputCalibrationPicture(step), kv::pictures::WiringK);
    for (int step : {4, 5})
        EXPECT_STREQ(kv::pictures::OutputCalibrationPicture(step), kv::pictures::WiringL);
    for (int step : {3, 6, 7, 8})
        EXPECT_EQ(kv::pictures::OutputCalibrationPicture(step), nullptr);
}

TEST(Pictures, SchematicPlacesFitAndDoNotCollide)
{
    const QRect picture(0, 0, 593, 433);
    std::vector<QRect> all;
    for (const auto& b : kv::pictures::kSchematicButtons) {
        SCOPED_TRACE(b.objectName);
        EXPECT_EQ(b.rect.size(), QSize(55, 15));
        EXPECT_TRUE(picture.contains(b.rect));
        all.push_back(b.rect);
    }
    for (const auto& m : kv::pictures::kSchematicMarks) {
        SCOPED_TRACE(m.objectName);
        EXPECT_TRUE(m.rect.size() == QSize(20, 4) || m.rect.size() == QSize(4, 20));
        EXPECT_TRUE(picture.contains(m.rect));
        all.push_back(m.rect);
    }
    EXPECT_EQ(std::size(kv::pictures::kSchematicButtons), 6u);
    EXPECT_EQ(std::size(kv::pictures::kSchematicMarks), 11u);
    for (std::size_t i = 0; i < all.size(); ++i)
        for (std::size_t j = i + 1; j < all.size(); ++j)
            EXPECT_FALSE(all[i].intersects(all[j])) << i << " and " << j;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);  // QPixmap needs the GUI application
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
