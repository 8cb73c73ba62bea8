// voxletter-cli picture: renders a background picture exactly as the body editor tiles it, prints its
// HIMETRIC and pixel sizes, and writes the tile as PNG, so a picture can be checked before it is sent.
// Qt is started here only, on its offscreen platform: the other commands never touch it.

#include "cli/cli_picture.h"

#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <cstdio>
#include <memory>
#include <string>

#include "picture/picture_image.h"

namespace vox::cli {

namespace {

struct PictureRequest {
    std::string path;
    uint32_t dpi = 96;
    std::string out;
};

int RunPicture(const PictureRequest& req) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "voxletter-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    CPictureImage picture;
    if (!picture.LoadFromFile(QString::fromLocal8Bit(req.path.c_str()), int(req.dpi), int(req.dpi))) {
        std::fprintf(stderr, "%s: %s\n", req.path.c_str(), picture.ErrorText().toUtf8().constData());
        return 1;
    }
    const QImage tile = picture.TakeBitmap();
    std::printf("HIMETRIC %d x %d\n", picture.HimetricWidth(), picture.HimetricHeight());
    std::printf("pixels %d x %d at %u dpi\n", tile.width(), tile.height(), req.dpi);
    if (!req.out.empty() && !tile.save(QString::fromLocal8Bit(req.out.c_str()), "PNG")) {
        std::fprintf(stderr, "voxletter-cli picture: cannot write %s\n", req.out.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

void AddPictureCommand(CommandLine& cli) {
    auto req = std::make_shared<PictureRequest>();
    CLI::App& command = cli.AddCommand(
        "picture", "Render a background picture (JPEG, GIF, BMP or WMF) as the composer tiles it behind the body.",
        [req] { return RunPicture(*req); });
    command.add_option("FILE", req->path, "the picture")->required()->type_name("FILE");
    command.add_option("--dpi", req->dpi, "screen resolution in pixels per inch, 1 to 2400 (default 96)")
        ->type_name("N")
        ->transform(WholeNumber(1, 2400, "a whole number from 1 to 2400"));
    command.add_option("-o", req->out, "write the tile to this PNG file")->type_name("OUT.png");
    command.footer(
        "Prints the picture's size in HIMETRIC (0.01 mm) and the tile's size in pixels.\n"
        "Exit status: 0 rendered; 1 the picture was refused (\"无法打开文件\" or \"不支持的文件格式\" on standard\n"
        "error) or the PNG could not be written; 2 an option was refused.");
}

}  // namespace vox::cli
