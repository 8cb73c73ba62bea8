// voxletter-cli picture: renders a background picture exactly as the body editor tiles it, prints its
// HIMETRIC and pixel sizes, and writes the tile as PNG, so a picture can be checked before it is sent.
// Qt is started here only, on its offscreen platform: the other commands never touch it.

#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/number_text.h"
#include "cli/cli_picture.h"
#include "picture/picture_image.h"

namespace vox::cli {

namespace {

const char kPictureUsage[] =
    "usage: voxletter-cli picture FILE [--dpi N] [-o OUT.png]\n"
    "  Decodes a JPEG, GIF, BMP or WMF picture, renders it as the composer tiles it behind the body, prints\n"
    "  its size in HIMETRIC (0.01 mm) and in pixels, and writes the tile as PNG.\n"
    "  --dpi N   screen resolution in pixels per inch, 1 to 2400 (default 96)\n"
    "  -o FILE   where to write the PNG\n";

}  // namespace

int RunPicture(const std::vector<std::string>& args) {
    std::string path, out;
    unsigned dpi = 96;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kPictureUsage, stdout);
            return 0;
        }
        if (a == "--dpi" || a == "-o") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "voxletter-cli picture: %s needs a value\n%s", a.c_str(), kPictureUsage);
                return 2;
            }
            const std::string& value = args[++i];
            if (a == "-o") {
                out = value;
                continue;
            }
            const std::optional<uint32_t> n = ParseUnsignedDecimal(value);
            if (!n || *n < 1 || *n > 2400) {
                std::fprintf(stderr, "voxletter-cli picture: --dpi wants a number from 1 to 2400, not \"%s\"\n",
                             value.c_str());
                return 2;
            }
            dpi = *n;
            continue;
        }
        if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "voxletter-cli picture: unknown option \"%s\"\n%s", a.c_str(), kPictureUsage);
            return 2;
        }
        if (!path.empty()) {
            std::fprintf(stderr, "voxletter-cli picture: one picture at a time\n%s", kPictureUsage);
            return 2;
        }
        path = a;
    }
    if (path.empty()) {
        std::fputs(kPictureUsage, stderr);
        return 2;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "voxletter-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    CPictureImage picture;
    if (!picture.LoadFromFile(QString::fromLocal8Bit(path.c_str()), int(dpi), int(dpi))) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), picture.ErrorText().toUtf8().constData());
        return 1;
    }
    const QImage tile = picture.TakeBitmap();
    std::printf("HIMETRIC %d x %d\n", picture.HimetricWidth(), picture.HimetricHeight());
    std::printf("pixels %d x %d at %u dpi\n", tile.width(), tile.height(), dpi);
    if (!out.empty() && !tile.save(QString::fromLocal8Bit(out.c_str()), "PNG")) {
        std::fprintf(stderr, "voxletter-cli picture: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

}  // namespace vox::cli
