#include "Pictures.h"

#include "PicturesJpeg.h"

#include <QByteArray>
#include <QFile>

// The resources live in a static library: nothing would pull their object
// file into the program unless something names it. Q_INIT_RESOURCE must be
// used outside any namespace.
static void InitPictureResources()
{
    Q_INIT_RESOURCE(pictures);
}

namespace kv {

QImage DecodeJpeg(const unsigned char* data, std::size_t size)
{
    kv_jpeg_pixels px;
    if (kv_jpeg_decode(data, size, &px) != 0)
        return {};
    // The image takes the decoder's buffer and frees it when the last copy
    // goes; no second copy of the pixels is made.
    const QImage::Format format = px.bytes_per_pixel == 4 ? QImage::Format_RGB32 : QImage::Format_RGB888;
    QImage image(px.data, px.width, px.height, px.stride, format, kv_jpeg_free, px.data);
    if (image.isNull())
        kv_jpeg_free(px.data);
    return image;
}

QPixmap Picture(const QString& name)
{
    static const bool registered = (InitPictureResources(), true);
    (void)registered;

    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return {};
    QFile file(QStringLiteral(":/pictures/") + name + QStringLiteral(".jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const QImage image = DecodeJpeg(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                    static_cast<std::size_t>(bytes.size()));
    if (image.isNull())
        return {};
    return QPixmap::fromImage(image);
}

namespace pictures {

const char* InputCalibrationPicture(int step)
{
    switch (step) {
    case 1: case 2: return WiringA;
    case 3: case 5: return WiringB;
    case 6: case 7: return WiringC;
    case 10: case 11: return WiringD;
    case 13: case 15: return WiringE;
    case 16: case 17: return WiringF;
    case 18: return WiringG;
    case 19: return WiringH;
    case 20: case 21: return WiringI;
    case 22: return WiringJ;
    default: return nullptr;
    }
}

const char* OutputCalibrationPicture(int step)
{
    switch (step) {
    case 1: case 2: return WiringK;
    case 4: case 5: return WiringL;
    default: return nullptr;
    }
}

}  // namespace pictures
}  // namespace kv
