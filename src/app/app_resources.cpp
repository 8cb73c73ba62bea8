#include "app/app_resources.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "base/translate.h"

// Q_INIT_RESOURCE must not be used inside a namespace.
static void RegisterVoxResources() { Q_INIT_RESOURCE(voxletter); }

namespace vox {

void LoadUiResources() {
    static const bool registered = (RegisterVoxResources(), true);
    (void)registered;
}

void LoadQtTranslation() {
    // Qt's own dialogs (the file chooser, its buttons and columns) speak the program's language: Qt's
    // texts are English, and the Chinese ones come from Qt's translation package (without it they stay
    // English). Their dates and numbers follow the user's locale; the C locale, whose texts are Chinese,
    // gets China's forms rather than Qt's neutral US-like ones.
    if (CurrentLanguage() != UiLanguage::Chinese) return;
    static QTranslator* translator = [] {
        auto* t = new QTranslator(QCoreApplication::instance());
        if (t->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(t);
        return t;
    }();
    (void)translator;
    if (QLocale::system().language() == QLocale::C)
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
}

}  // namespace vox
