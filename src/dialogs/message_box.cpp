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

}  // namespace vox
