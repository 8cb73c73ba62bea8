#pragma once
// Every message box of the program goes through ShowMessage, so that tests can put a recorder in its place:
// a real QMessageBox in an offscreen test would wait for a click that never comes.

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace vox {

enum class MessageIcon { Information, Exclamation, Stop, None };

// Shows a modal box with an OK button over parent (or over the active window when parent is null) and
// returns when the user has closed it.
void ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon);

using MessageFunction = std::function<void(QWidget* parent, const QString& text, const QString& caption,
                                           MessageIcon icon)>;

// Replaces the box; an empty function puts the real box back. Returns the previous replacement (empty when
// the real box was in place). Call it on the user-interface thread while no box is open.
MessageFunction SetMessageFunction(MessageFunction replacement);

// A box that offers a choice: one button per text in choices, the first the default. Returns the index
// of the button pressed; closing the box without one returns the last (the choice that changes nothing).
int AskChoice(QWidget* parent, const QString& text, const QString& caption, const QStringList& choices);

using ChoiceFunction =
    std::function<int(QWidget* parent, const QString& text, const QString& caption, const QStringList& choices)>;

// As SetMessageFunction, for AskChoice.
ChoiceFunction SetChoiceFunction(ChoiceFunction replacement);

}  // namespace vox
