#include "dialogs/file_chooser.h"

#include <QFileDialog>

#include <utility>

namespace vox {
namespace {

FileChooserFunction& Replacement() {
    static FileChooserFunction replacement;
    return replacement;
}

QStringList Choose(QWidget* parent, const QString& caption, const QString& filter, bool allowMany) {
    if (const FileChooserFunction& replacement = Replacement()) return replacement(parent, caption, filter, allowMany);
    if (allowMany) return QFileDialog::getOpenFileNames(parent, caption, QString(), filter);
    QString one = QFileDialog::getOpenFileName(parent, caption, QString(), filter);
    return one.isEmpty() ? QStringList() : QStringList{one};
}

}  // namespace

QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter) {
    return Choose(parent, caption, filter, true);
}

QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& filter) {
    QStringList picked = Choose(parent, caption, filter, false);
    return picked.isEmpty() ? QString() : picked.front();
}

FileChooserFunction SetFileChooserFunction(FileChooserFunction replacement) {
    return std::exchange(Replacement(), std::move(replacement));
}

}  // namespace vox
