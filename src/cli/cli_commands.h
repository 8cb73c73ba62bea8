#pragma once
// One entry per subcommand of voxletter-cli. Each takes the arguments after the subcommand's name and
// returns the process exit status.

#include <string>
#include <vector>

namespace vox::cli {

using Args = std::vector<std::string>;

int RunCompose(const Args& args);
int RunSend(const Args& args);
int RunRecord(const Args& args);

}  // namespace vox::cli
