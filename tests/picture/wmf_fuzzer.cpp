// libFuzzer entry for the metafile path: any bytes are decoded as a picture and, when they make a metafile,
// played into a small tile. Build with the "fuzz" preset (clang) and run, for example:
//   build/fuzz/tests/picture/wmf_fuzzer -max_total_time=600 CORPUS tests/picture/data
#include <QByteArray>
#include <QGuiApplication>
#include <QSize>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "picture/picture_image.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vox::CPictureImage picture;
    if (!picture.LoadFromMemory(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)))) return 0;
    // Small tiles keep each run short; the drawing code is the same at any size.
    const QSize tile(std::clamp(vox::MulDiv(picture.HimetricWidth(), 96, 2540), 1, 160),
                     std::clamp(vox::MulDiv(picture.HimetricHeight(), 96, 2540), 1, 160));
    picture.Render(tile);
    return 0;
}
