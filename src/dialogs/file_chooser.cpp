#include "dialogs/file_chooser.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QTimer>
#include <QTreeView>

#include <utility>

namespace vox {
namespace {

FileChooserFunction& Replacement() {
    static FileChooserFunction replacement;
    return replacement;
}

// Qt's file model writes its dates in the system locale's form, which in the C locale is neither the
// program's language nor the one Qt's other texts take (QLocale's default, set with the language): the
// chooser's dates are written in the default locale's short form instead.
class LocaleDates : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        static constexpr int kDateColumn = 3;
        if (role == Qt::DisplayRole && index.column() == kDateColumn) {
            if (const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel()))
                return QLocale().toString(files->lastModified(mapToSource(index)), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

QStringList Choose(QWidget* parent, const QString& caption, const QString& filter, bool allowMany) {
    if (const FileChooserFunction& replacement = Replacement()) return replacement(parent, caption, filter, allowMany);
    const std::unique_ptr<QFileDialog> chooser = MakeFileChooser(parent, caption, filter, allowMany);
    if (chooser->exec() != QDialog::Accepted) return {};
    return chooser->selectedFiles();
}

}  // namespace

std::unique_ptr<QFileDialog> MakeFileChooser(QWidget* parent, const QString& caption, const QString& filter,
                                             bool allowMany) {
    auto chooser = std::make_unique<QFileDialog>(parent, caption, QString(), filter);
    chooser->setFileMode(allowMany ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    chooser->setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own chooser gives its detail columns fixed widths, which cut a size such as "76.5 KiB" or a
    // date in a longer form than the US one. Fitted when a folder's entries are in (they come in the
    // background), and still for the user to drag.
    auto* view = chooser->findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* model = chooser->findChild<QFileSystemModel*>(QStringLiteral("qt_filesystem_model"));
    if (view && model) {
        chooser->setProxyModel(new LocaleDates(chooser.get()));
        // The view lays its rows out after the model's signal: measured once they are in.
        QObject::connect(model, &QFileSystemModel::directoryLoaded, view, [view] {
            QTimer::singleShot(0, view, [view] {
                for (int column = 1; column < view->header()->count(); ++column) view->resizeColumnToContents(column);
            });
        });
    }
    return chooser;
}

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
