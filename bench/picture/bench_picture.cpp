// Rendering the largest sample metafile: our device in-process, and the same work as two programs doing it
// from the command line, voxletter-cli picture and libwmf's wmf2gd, each writing a PNG of the same size.
// Then the time to load (read, decode, render) every sample picture, which the editor does on the UI thread.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "picture/picture_image.h"

extern char** environ;

namespace {

const QString kData = QStringLiteral(VOX_PICTURE_DATA);
const char kBig[] = "inkscape-big.wmf";

bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_OurDevice_LoadAndRender(benchmark::State& state) {
    const QString path = kData + "/" + kBig;
    for (auto _ : state) {
        vox::CPictureImage picture;
        if (!picture.LoadFromFile(path, 96, 96)) state.SkipWithError("cannot load");
        benchmark::DoNotOptimize(picture.TakeBitmap());
    }
}

void BM_Command_VoxletterCli(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string out = dir.filePath("ours.png").toStdString();
    const std::string file = (kData + "/" + kBig).toStdString();
    for (auto _ : state)
        if (!Run({VOX_CLI, "picture", file, "--dpi", "96", "-o", out})) state.SkipWithError("voxletter-cli failed");
}

void BM_Command_Wmf2gd(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string out = dir.filePath("libwmf.png").toStdString();
    const std::string file = (kData + "/" + kBig).toStdString();
    // The same 756 x 567 pixels as our tile of this file at 96 dpi.
    for (auto _ : state)
        if (!Run({"wmf2gd", "-t", "png", "--maxwidth=756", "--maxheight=567", "--maxsize", "-o", out, file}))
            state.SkipWithError("wmf2gd is missing or failed (Debian libwmf-bin)");
}

void BM_LoadSample(benchmark::State& state, const QString& name) {
    const QString path = kData + "/" + name;
    for (auto _ : state) {
        vox::CPictureImage picture;
        if (!picture.LoadFromFile(path, 96, 96)) state.SkipWithError("cannot load");
        benchmark::DoNotOptimize(picture.TakeBitmap());
    }
}

}  // namespace

BENCHMARK(BM_OurDevice_LoadAndRender)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Command_VoxletterCli)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Command_Wmf2gd)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (const char* name : {"inkscape-big.wmf", "libreoffice-shapes.wmf", "inkscape-shapes.wmf", "libuemf-records.wmf",
                             "libuemf-noplaceable.wmf", "base-96dpi.jpg", "prog-300dpi.jpg", "animated.gif",
                             "transparent.gif", "rgb24.bmp", "pal8.bmp"})
        benchmark::RegisterBenchmark((std::string("BM_LoadSample/") + name).c_str(), BM_LoadSample,
                                     QString::fromLatin1(name))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
