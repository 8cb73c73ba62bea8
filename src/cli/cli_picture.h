#pragma once
// voxletter-cli picture, in a library of its own so that Qt stays out of the rest of the command line.

#include <string>
#include <vector>

namespace vox::cli {

int RunPicture(const std::vector<std::string>& args);

}  // namespace vox::cli
