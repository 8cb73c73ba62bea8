#include "dialogs/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace vox {
namespace {

MessageFunction& Replacement() {
    static MessageFunction replacement;
    return replacement;
}

QuestionFunction& QuestionReplacement() {
    static QuestionFunction replacement;
    return replacement;
}

QMessageBox::Icon ToQt(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Stop:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    if (const MessageFunction& replacement = Replacement()) {
        replacement(parent, text, caption, icon);
        return;
    }
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::Ok, parent);
    // The texts carry Windows-style line ends from the logic; the box wants plain "\n" and no markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}

bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
    if (const QuestionFunction& replacement = QuestionReplacement()) return replacement(parent, text, caption);
    if (const MessageFunction& replacement = Replacement()) {
        replacement(parent, text, caption, MessageIcon::None);
        return false;
    }
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QuestionFunction SetQuestionFunction(QuestionFunction replacement) {
    return std::exchange(QuestionReplacement(), std::move(replacement));
}

MessageFunction SetMessageFunction(MessageFunction replacement) {
    return std::exchange(Replacement(), std::move(replacement));
}

}  // namespace vox
