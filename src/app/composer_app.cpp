#include "app/composer_app.h"

#include <QApplication>

#include "app/app_resources.h"
#include "app/composer_dlg.h"
#include "draft/draft_store.h"
#include "draft/sent_folder.h"
#include "dialogs/dialog_units.h"

namespace vox {

CComposerApp::CComposerApp() = default;

CComposerApp::~CComposerApp() = default;

bool CComposerApp::InitInstance() {
    LoadUiResources();
    LoadQtTranslation();
    // Message boxes and every window without a font of its own use the templates' font as well.
    QApplication::setFont(DialogFont());
    QGuiApplication::setDesktopFileName(QStringLiteral("voxletter"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/voxletter.png")));

    // Only the composer's end quits. Quitting leaves every event loop at once, so it must never happen
    // while a send still runs the delivery window's loop inside the composer's; and it is queued, so the
    // quit is taken in the application's own loop, after whatever ended the composer has returned.
    QApplication::setQuitOnLastWindowClosed(false);
    m_pMainWnd = std::make_unique<CComposerDlg>(nullptr,
                                                CComposerDlg::KeptFolders{DefaultDraftFolder(), DefaultSentFolder()});
    QObject::connect(m_pMainWnd.get(), &CComposerDlg::ended, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    m_pMainWnd->show();  // maximised: the window asks for that itself
    return true;
}

}  // namespace vox
