// voxletter-cli: compose, send and record without a window.

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_commands.h"
#ifdef VOX_HAVE_PICTURE
#include "cli/cli_picture.h"
#endif

namespace {

const char kUsage[] =
    "usage: voxletter-cli compose [FIELDS] [-o FILE]\n"
    "       voxletter-cli send    [FIELDS]\n"
    "       voxletter-cli record  [--seconds 10] [--rate 8000] [--bits 8] [--channels 1]\n"
    "       voxletter-cli picture FILE [--dpi N] [-o OUT.png]\n"
    "       voxletter-cli COMMAND --help   for the options of one command\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    const vox::cli::Args args(argv + 2, argv + argc);
    if (command == "compose") return vox::cli::RunCompose(args);
    if (command == "send") return vox::cli::RunSend(args);
    if (command == "record") return vox::cli::RunRecord(args);
#ifdef VOX_HAVE_PICTURE
    if (command == "picture") return vox::cli::RunPicture(args);
#endif
    std::fprintf(stderr, "voxletter-cli: unknown command \"%s\"\n%s", command.c_str(), kUsage);
    return 2;
}
