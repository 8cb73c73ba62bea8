#pragma once
// Every message box of the program goes through ShowMessage, so that tests can put a recorder in its place:
// a real QMessageBox in an offscreen test would wait for a click that never comes.

#include <QString>
#include <QStringList>

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
// screen. With choices (AskMessage's), one button per choice takes the OK button's place, the first the
// default. Tests look at it without running it.
std::unique_ptr<QDialog> MakeMessageWindow(QWidget* parent, const QString& text, const QString& caption,
                                           MessageIcon icon, const QStringList& choices = {});

// A box with one button per choice (the first is the default); returns the index of the one pressed, or
// the last (which should be the cautious one) when the box is closed. With a replacement in place the
// replacement is shown the text and the answer comes from the answer function (the last choice without
// one), so that tests see every question and answer it.
int AskMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon,
               const QStringList& choices);

using ChoiceAnswerFunction = std::function<int(const QString& text, const QStringList& choices)>;
ChoiceAnswerFunction SetChoiceAnswerFunction(ChoiceAnswerFunction answer);

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
