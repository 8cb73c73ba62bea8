#pragma once
// The windows' icon and tile picture are compiled into vox_ui; a static library must register them itself.

namespace vox {

// Safe to call any number of times.
void LoadUiResources();

}  // namespace vox
