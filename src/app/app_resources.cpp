#include "app/app_resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must not be used inside a namespace.
static void RegisterVoxResources() { Q_INIT_RESOURCE(voxletter); }

namespace vox {

void LoadUiResources() {
    static const bool registered = (RegisterVoxResources(), true);
    (void)registered;
}

}  // namespace vox
