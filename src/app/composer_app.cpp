#include "app/composer_app.h"

#include <QApplication>

#include "app/composer_dlg.h"
#include "app/app_resources.h"
#include "dialogs/dialog_units.h"

namespace vox {

bool CComposerApp::InitInstance() {
    LoadUiResources();
    LoadQtTranslation();
    // Message boxes and every window without a font of its own use the templates' font as well.
    QApplication::setFont(DialogFont());
    QGuiApplication::setDesktopFileName(QStringLiteral("voxletter"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/voxletter.png")));

    CComposerDlg composer;
    composer.exec();
    return false;
}

}  // namespace vox
