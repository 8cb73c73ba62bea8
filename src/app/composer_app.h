#pragma once
// The application: one modal composer for the life of the process.

namespace vox {

class CComposerApp {
public:
    // Runs the composer window until it ends. Returns false: the process then exits, there is nothing
    // else to run. Needs a QApplication.
    bool InitInstance();
};

}  // namespace vox
