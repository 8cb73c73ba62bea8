#pragma once
// voxletter-cli picture, in a library of its own so that Qt stays out of the rest of the command line.

#include "cli/command_line.h"

namespace vox::cli {

void AddPictureCommand(CommandLine& cli);

}  // namespace vox::cli
