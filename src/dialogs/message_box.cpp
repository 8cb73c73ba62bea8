#include "dialogs/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <utility>
#include <vector>

namespace vox {
namespace {

MessageFunction& Replacement() {
    static MessageFunction replacement;
    return replacement;
}

ChoiceFunction& ChoiceReplacement() {
    static ChoiceFunction replacement;
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

MessageFunction SetMessageFunction(MessageFunction replacement) {
    return std::exchange(Replacement(), std::move(replacement));
}

int AskChoice(QWidget* parent, const QString& text, const QString& caption, const QStringList& choices) {
    if (const ChoiceFunction& replacement = ChoiceReplacement()) return replacement(parent, text, caption, choices);
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, caption, QString(), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    std::vector<QPushButton*> buttons;
    for (const QString& choice : choices) buttons.push_back(box.addButton(choice, QMessageBox::ActionRole));
    if (buttons.empty()) return -1;
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons.back());
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i]) return static_cast<int>(i);
    return static_cast<int>(buttons.size()) - 1;
}

ChoiceFunction SetChoiceFunction(ChoiceFunction replacement) {
    return std::exchange(ChoiceReplacement(), std::move(replacement));
}

}  // namespace vox
