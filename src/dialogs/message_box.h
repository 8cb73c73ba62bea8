#pragma once
// Every message box of the program goes through ShowMessage, so that tests can put a recorder in its place:
// a real QMessageBox in an offscreen test would wait for a click that never comes.

#include <QString>

#include <functional>
#include <memory>

class QDialog;
class QWidget;

namespace vox {

enum class MessageIcon { Information, Exclamation, Stop, None };

// Shows a modal box with an OK button over parent (or over the active window when parent is null) and
// returns when the user has closed it.
void ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon);

// The window ShowMessage runs, not yet shown: a plain message box, or, for a text taller than a third of
// the screen (a report of hundreds of addresses), a window whose text scrolls while its OK button stays on
// screen. Tests look at it without running it.
std::unique_ptr<QDialog> MakeMessageWindow(QWidget* parent, const QString& text, const QString& caption,
                                           MessageIcon icon);

using MessageFunction = std::function<void(QWidget* parent, const QString& text, const QString& caption,
                                           MessageIcon icon)>;

// Replaces the box; an empty function puts the real box back. Returns the previous replacement (empty when
// the real box was in place). Call it on the user-interface thread while no box is open.
MessageFunction SetMessageFunction(MessageFunction replacement);

}  // namespace vox
