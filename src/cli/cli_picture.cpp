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
    // The two size lines are for scripts and stay as they are in every language.
    std::printf("HIMETRIC %d x %d\n", picture.HimetricWidth(), picture.HimetricHeight());
    std::printf("pixels %d x %d at %u dpi\n", tile.width(), tile.height(), req.dpi);
    if (!req.out.empty() && !tile.save(QString::fromLocal8Bit(req.out.c_str()), "PNG")) {
        Complain("picture", Format(Tr("无法写入%s"), req.out.c_str()));
        return 1;
    }
    return 0;
}

}  // namespace

void AddPictureCommand(CommandLine& cli) {
    auto req = std::make_shared<PictureRequest>();
    CLI::App& command = cli.AddCommand(
        "picture", N_("按写信窗口在正文背后平铺的样子渲染背景图片（JPEG、GIF、BMP或WMF）。"),
        [req] { return RunPicture(*req); });
    command.add_option("FILE", req->path, Tr("图片"))->required()->type_name("FILE");
    command.add_option("--dpi", req->dpi, Tr("屏幕分辨率，每英寸像素数，1至2400（默认96）"))
        ->type_name("N")
        ->transform(WholeNumber(1, 2400, Tr("1至2400的整数")));
    command.add_option("-o", req->out, Tr("把平铺单元写入这个PNG文件"))->type_name("OUT.png");
    command.footer(
        Tr("输出图片以HIMETRIC（0.01毫米）为单位的大小和平铺单元以像素为单位的大小。\n"
           "退出状态：0 已渲染；1 图片被拒绝（标准错误上为\"无法打开文件\"或\"不支持的文件格式\"）或无法写入PNG；\n"
           "2 选项被拒绝。"));
}

}  // namespace vox::cli
