#pragma once
// A background picture: decoded from JPEG, GIF, BMP or WMF bytes, sized in HIMETRIC (0.01 mm), and rendered
// once into a bitmap at the screen's resolution, which the body editor then tiles.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

#include "base/translate.h"

namespace vox {

// number * numerator / denominator, rounded to the nearest integer with halves away from zero, computed
// without intermediate overflow; -1 when denominator is 0 or the result does not fit in an int.
int MulDiv(int number, int numerator, int denominator);

// The largest tile we render: a picture whose size at the screen's resolution exceeds either limit is
// refused before anything of that size is allocated.
inline constexpr int kMaxTileSide = 16384;
inline constexpr qint64 kMaxTilePixels = qint64(128) * 1024 * 1024;

// The user-visible failures of a load.
inline constexpr char kCannotOpenText[] = N_("无法打开文件");
inline constexpr char kUnsupportedText[] = N_("不支持的文件格式");

class CPictureImage {
public:
    CPictureImage();
    virtual ~CPictureImage();
    CPictureImage(const CPictureImage&) = delete;
    CPictureImage& operator=(const CPictureImage&) = delete;

    // Reads, decodes and renders the file for a screen of dpiX by dpiY pixels per inch. On failure
    // ErrorText() is "无法打开文件" or "不支持的文件格式" and no bitmap exists.
    bool LoadFromFile(const QString& path, int dpiX, int dpiY);

    // Decodes picture bytes and sets the HIMETRIC size; a raster picture is measured at the resolution of
    // the last LoadFromFile (96 dpi before any). Renders nothing.
    bool LoadFromMemory(const QByteArray& bytes);

    // The decoded picture drawn into a white bitmap of the given size (null for an empty or too large size,
    // or before a successful decode).
    QImage Render(QSize size) const;

    // The bitmap made by LoadFromFile; ownership passes to the caller, and this object keeps none.
    QImage TakeBitmap();

    int HimetricWidth() const { return m_hmWidth; }
    int HimetricHeight() const { return m_hmHeight; }
    // The bitmap's size: the HIMETRIC size at the resolution given to LoadFromFile.
    QSize PixelSize() const { return m_pixelSize; }
    QString ErrorText() const { return m_errorText; }
    bool IsMetafile() const;

    // True when a tile of that size may be allocated.
    static bool TileSizeAllowed(QSize size);

private:
    struct Decoded;

    QImage m_bitmap;
    int m_hmHeight = 0;
    int m_hmWidth = 0;
    int m_dpiX = 96;
    int m_dpiY = 96;
    QSize m_pixelSize;
    QString m_errorText;
    std::unique_ptr<Decoded> m_pPicture;
};

}  // namespace vox
