#include "app/app_resources.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

// Q_INIT_RESOURCE must not be used inside a namespace.
static void RegisterVoxResources() { Q_INIT_RESOURCE(voxletter); }

namespace vox {

void LoadUiResources() {
    static const bool registered = (RegisterVoxResources(), true);
    (void)registered;
}

void LoadQtTranslation() {
    // The program's texts are Chinese whatever the locale, so Qt's are too. Without the translation
    // package Qt's texts simply stay English.
    static QTranslator* translator = [] {
        auto* t = new QTranslator(QCoreApplication::instance());
        if (t->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(t);
        return t;
    }();
    (void)translator;
}

}  // namespace vox
