#include "app/composer_app.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "app/app_resources.h"
#include "app/composer_dlg.h"
#include "draft/draft_store.h"
#include "draft/sent_folder.h"
#include "dialogs/dialog_units.h"

namespace vox {

namespace {

// On a display without a window manager nobody gives the keyboard to a window: not to the composer when
// it opens, nor to a sub-window or a message box, nor back to the owner when one of them closes, and keys
// would reach no window at all. So each of the program's windows asks for the keyboard when it opens
// while no window or its owner has it, and a window closing with the keyboard hands it to its owner when
// no other window has taken it (without a window manager the closing window may never have counted as
// active at all, and then no window has the keyboard). Where a window manager has already made its choice, that choice stands.
class KeyboardWithoutWindowManager : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show && event->type() != QEvent::Hide) return false;
        auto* window = qobject_cast<QWidget*>(watched);
        if (!window || !window->isWindow() || window->windowType() == Qt::Popup || window->windowType() == Qt::ToolTip)
            return false;
        QPointer<QWidget> owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
        if (event->type() == QEvent::Show) {
            QPointer<QWidget> shown = window;
            QTimer::singleShot(0, this, [shown, owner] {
                const QWidget* active = QApplication::activeWindow();
                if (shown && shown->isVisible() && active != shown && (!active || active == owner))
                    shown->activateWindow();
            });
        } else if (owner && (window == QApplication::activeWindow() || !QApplication::activeWindow())) {
            QTimer::singleShot(0, this, [owner] {
                if (owner && owner->isVisible() && !QApplication::activeWindow()) owner->activateWindow();
            });
        }
        return false;
    }
};

}  // namespace

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
    qApp->installEventFilter(new KeyboardWithoutWindowManager(qApp));
    m_pMainWnd = std::make_unique<CComposerDlg>(nullptr,
                                                CComposerDlg::KeptFolders{DefaultDraftFolder(), DefaultSentFolder()});
    QObject::connect(m_pMainWnd.get(), &CComposerDlg::ended, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    m_pMainWnd->show();  // maximised: the window asks for that itself
    return true;
}

}  // namespace vox
