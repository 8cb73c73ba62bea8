#pragma once
// Every message box of the program goes through ShowMessage, so that tests can put a recorder in its place:
// a real QMessageBox in an offscreen test would wait for a click that never comes.

#include <QString>

#include <functional>

class QWidget;

namespace vox {

enum class MessageIcon { Information, Exclamation, Stop, None };

// Shows a modal box with an OK button over parent (or over the active window when parent is null) and
// returns when the user has closed it.
void ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon);

using MessageFunction = std::function<void(QWidget* parent, const QString& text, const QString& caption,
                                           MessageIcon icon)>;

// A question with the buttons Yes and No over parent; true for Yes. Goes through the replaceable question
// function, else, while a message function replaces the box, through that one (with MessageIcon::None),
// answered No: a test that does not expect a question never blocks on one and never has a send cancelled
// by it.
bool AskYesNo(QWidget* parent, const QString& text, const QString& caption);

using QuestionFunction = std::function<bool(QWidget* parent, const QString& text, const QString& caption)>;
QuestionFunction SetQuestionFunction(QuestionFunction replacement);

// Replaces the box; an empty function puts the real box back. Returns the previous replacement (empty when
// the real box was in place). Call it on the user-interface thread while no box is open.
MessageFunction SetMessageFunction(MessageFunction replacement);

}  // namespace vox
