#include <cstdio>

#include "cli/cli_commands.h"

namespace vox::cli {

int RunCompose(const Args&) {
    std::fputs("voxletter-cli compose: not built yet\n", stderr);
    return 2;
}

}  // namespace vox::cli
