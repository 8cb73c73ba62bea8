// voxletter: the composer window.
#include <QApplication>

#include "app/composer_app.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    vox::CComposerApp composer;
    if (!composer.InitInstance()) return 0;
    return QApplication::exec();
}
