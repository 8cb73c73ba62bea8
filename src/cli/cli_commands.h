#pragma once
// The commands of voxletter-cli. Each adds itself, its options and what it runs to the command line.

#include "cli/command_line.h"

namespace vox::cli {

void AddComposeCommand(CommandLine& cli);
void AddSendCommand(CommandLine& cli);
void AddOutboxCommand(CommandLine& cli);
void AddRecordCommand(CommandLine& cli);
void AddAccountCommand(CommandLine& cli);

}  // namespace vox::cli
