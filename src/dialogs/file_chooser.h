#pragma once
// The program's Open File choosers. Like the message box, they are replaceable so that tests can answer
// them without a window.

#include <QString>
#include <QStringList>

#include <functional>

#include <memory>

class QFileDialog;
class QWidget;

namespace vox {

// Full paths of the files the user picked, in the chooser's order; empty after Cancel.
// filter uses Qt's syntax, for example "All Files (*)" or "声音文件 (*.wav *.mp3)".
QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter);

// One file, or an empty text after Cancel.
QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& filter);

// The chooser the two functions above run, not yet shown (tests look at it without running it). Where Qt's
// own chooser is used (no desktop's native one), its columns of size, type and date fit their contents
// each time a folder has been read, so that no size or date is cut, and its dates take the form of the
// program's locale (QLocale's default).
std::unique_ptr<QFileDialog> MakeFileChooser(QWidget* parent, const QString& caption, const QString& filter,
                                             bool allowMany);

// (parent, caption, filter, allowMany) -> picked paths. An empty function puts the real chooser back;
// the previous replacement is returned.
using FileChooserFunction =
    std::function<QStringList(QWidget* parent, const QString& caption, const QString& filter, bool allowMany)>;
FileChooserFunction SetFileChooserFunction(FileChooserFunction replacement);

}  // namespace vox
