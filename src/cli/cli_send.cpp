#include <cstdio>

#include "cli/cli_commands.h"

namespace vox::cli {

int RunSend(const Args&) {
    std::fputs("voxletter-cli send: not built yet\n", stderr);
    return 2;
}

}  // namespace vox::cli
