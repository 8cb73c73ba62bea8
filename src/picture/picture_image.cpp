#include "picture/picture_image.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "base/regular_file.h"
#include "picture/wmf_device.h"
#include "picture/wmf_layout.h"

namespace vox {

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    std::int64_t product = std::int64_t(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const std::uint64_t magnitude = std::uint64_t(std::llabs(product));
    const std::uint64_t divisor = std::uint64_t(std::llabs(std::int64_t(denominator)));
    const std::uint64_t rounded = (magnitude + divisor / 2) / divisor;
    if (rounded > std::uint64_t(std::numeric_limits<int>::max())) return -1;
    return negative ? -int(rounded) : int(rounded);
}

// What LoadFromMemory decoded: a raster image, or a metafile ready to play.
struct CPictureImage::Decoded {
    QImage raster;
    WmfLayout wmf;
    bool metafile = false;
};

CPictureImage::CPictureImage() = default;
CPictureImage::~CPictureImage() = default;

bool CPictureImage::TileSizeAllowed(QSize size) {
    return size.width() > 0 && size.height() > 0 && size.width() <= kMaxTileSide &&
           size.height() <= kMaxTileSide && qint64(size.width()) * size.height() <= kMaxTilePixels;
}

bool CPictureImage::IsMetafile() const { return m_pPicture && m_pPicture->metafile; }

bool CPictureImage::LoadFromFile(const QString& path, int dpiX, int dpiY) {
    m_bitmap = QImage();
    m_pixelSize = QSize();
    m_errorText.clear();
    m_dpiX = dpiX > 0 ? dpiX : 96;
    m_dpiY = dpiY > 0 ? dpiY : 96;

    // Only a regular file is read (a FIFO would block the window, a device would never end), and one far
    // larger than any picture we could tile is refused before its bytes are read.
    std::string content;
    const ReadResult read = ReadRegularFile(path.toStdString(), std::uint64_t(256) << 20, content);
    if (read == ReadResult::CannotOpen || read == ReadResult::ReadError) {
        m_errorText = QString::fromUtf8(Tr(kCannotOpenText));
        return false;
    }
    const QByteArray bytes = QByteArray::fromStdString(content);
    std::string().swap(content);
    // An empty file has nothing to decode: the same answer as a file nothing decodes.
    if (bytes.isEmpty() || !LoadFromMemory(bytes)) {
        m_errorText = QString::fromUtf8(Tr(kUnsupportedText));
        return false;
    }
    const QSize size(MulDiv(m_hmWidth, m_dpiX, 2540), MulDiv(m_hmHeight, m_dpiY, 2540));
    if (!TileSizeAllowed(size)) {
        m_pPicture.reset();
        m_errorText = QString::fromUtf8(Tr(kUnsupportedText));
        return false;
    }
    m_bitmap = Render(size);
    if (m_bitmap.isNull()) {
        m_errorText = QString::fromUtf8(Tr(kUnsupportedText));
        return false;
    }
    m_pixelSize = size;
    return true;
}

bool CPictureImage::LoadFromMemory(const QByteArray& bytes) {
    m_pPicture.reset();
    m_hmWidth = m_hmHeight = 0;
    auto decoded = std::make_unique<Decoded>();

    if (LooksLikeWmf(bytes)) {
        if (!ReadWmfLayout(bytes, &decoded->wmf)) return false;
        decoded->metafile = true;
        m_hmWidth = decoded->wmf.hmWidth;
        m_hmHeight = decoded->wmf.hmHeight;
    } else {
        QByteArray copy = bytes;
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(false);
        // The declared size decides before the decoder allocates anything for it (a bottom-up or top-down
        // bitmap may declare a negative height).
        const QSize declared = reader.size();
        if (!reader.canRead()) return false;
        if (declared.isValid() && !TileSizeAllowed(QSize(std::abs(declared.width()), std::abs(declared.height()))))
            return false;
        reader.setAllocationLimit(int(kMaxTilePixels * 4 / (1024 * 1024)));
        // A JPEG cut short decodes into grey below the cut; without its end marker it is refused instead.
        if (reader.format() == "jpeg" && !bytes.contains(QByteArrayLiteral("\xFF\xD9"))) return false;
        if (!reader.read(&decoded->raster) || decoded->raster.isNull()) return false;
        // A raster picture keeps its own pixel size on the screen it is loaded for.
        m_hmWidth = MulDiv(decoded->raster.width(), 2540, m_dpiX);
        m_hmHeight = MulDiv(decoded->raster.height(), 2540, m_dpiY);
    }
    if (m_hmWidth <= 0 || m_hmHeight <= 0) return false;
    m_pPicture = std::move(decoded);
    return true;
}

QImage CPictureImage::Render(QSize size) const {
    if (!m_pPicture || !TileSizeAllowed(size)) return QImage();
    QImage tile(size, QImage::Format_RGB32);
    if (tile.isNull()) return QImage();
    // The mail's page is white under the picture; transparent pixels and undrawn parts show that.
    tile.fill(Qt::white);
    if (m_pPicture->metafile) {
        if (!CWmfDevice::Play(m_pPicture->wmf, &tile)) return QImage();
    } else {
        QPainter painter(&tile);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRect(QPoint(0, 0), size), m_pPicture->raster);
    }
    return tile;
}

QImage CPictureImage::TakeBitmap() {
    QImage taken = std::move(m_bitmap);
    m_bitmap = QImage();
    return taken;
}

}  // namespace vox
