#pragma once
// The application: one composer window for the life of the process.

#include <memory>

namespace vox {

class CComposerDlg;

class CComposerApp {
public:
    CComposerApp();
    ~CComposerApp();
    CComposerApp(const CComposerApp&) = delete;
    CComposerApp& operator=(const CComposerApp&) = delete;

    // Sets the application up and shows the composer. Returns true: the caller then runs the application's
    // event loop, which quits once the composer has ended, so clean-up hooked to the application's quit
    // runs. Needs a QApplication. The composer lives until this object goes.
    bool InitInstance();

private:
    std::unique_ptr<CComposerDlg> m_pMainWnd;
};

}  // namespace vox
