#include <cstdio>

#include "cli/cli_commands.h"

namespace vox::cli {

int RunRecord(const Args&) {
    std::fputs("voxletter-cli record: not built yet\n", stderr);
    return 2;
}

}  // namespace vox::cli
