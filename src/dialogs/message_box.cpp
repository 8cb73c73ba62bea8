#include "dialogs/message_box.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <utility>
#include <vector>

namespace vox {
namespace {

MessageFunction& Replacement() {
    static MessageFunction replacement;
    return replacement;
}

ChoiceAnswerFunction& Answer() {
    static ChoiceAnswerFunction answer;
    return answer;
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

std::unique_ptr<QDialog> MakeMessageWindow(QWidget* parent, const QString& text, const QString& caption,
                                           MessageIcon icon) {
    // The texts carry Windows-style line ends from the logic; the windows want plain "\n" and no markup.
    const QString plain = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QScreen* screen = parent != nullptr && parent->screen() != nullptr ? parent->screen()
                                                                            : QApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    const int lineHeight = QFontMetrics(QApplication::font()).lineSpacing();
    const int lines = static_cast<int>(plain.count(QLatin1Char('\n'))) + 1;
    if (lines * lineHeight <= available.height() / 3) {
        auto box = std::make_unique<QMessageBox>(ToQt(icon), caption, plain, QMessageBox::Ok, parent);
        box->setTextFormat(Qt::PlainText);
        box->button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
        return box;
    }
    // Too tall for a box: the text scrolls inside a window no taller than two thirds of the screen, with
    // the OK button below it, always in view.
    auto window = std::make_unique<QDialog>(parent);
    window->setWindowTitle(caption);
    auto* layout = new QVBoxLayout(window.get());
    auto* row = new QHBoxLayout;
    if (icon != MessageIcon::None) {
        const QStyle::StandardPixmap which = icon == MessageIcon::Information   ? QStyle::SP_MessageBoxInformation
                                             : icon == MessageIcon::Exclamation ? QStyle::SP_MessageBoxWarning
                                                                                : QStyle::SP_MessageBoxCritical;
        const int size = window->style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
        auto* iconLabel = new QLabel(window.get());
        iconLabel->setPixmap(window->style()->standardIcon(which).pixmap(size, size));
        iconLabel->setAlignment(Qt::AlignTop);
        row->addWidget(iconLabel);
    }
    auto* textView = new QPlainTextEdit(plain, window.get());
    textView->setObjectName(QStringLiteral("text"));
    textView->setReadOnly(true);
    textView->setLineWrapMode(QPlainTextEdit::NoWrap);
    row->addWidget(textView, 1);
    layout->addLayout(row, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, window.get());
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, window.get(), &QDialog::accept);
    layout->addWidget(buttons);
    window->resize(std::min(available.width() * 2 / 3, 640), available.height() * 2 / 3);
    window->setMaximumHeight(available.height());
    return window;
}

void ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    if (const MessageFunction& replacement = Replacement()) {
        replacement(parent, text, caption, icon);
        return;
    }
    if (!parent) parent = QApplication::activeWindow();
    MakeMessageWindow(parent, text, caption, icon)->exec();
}

int AskMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon,
               const QStringList& choices) {
    const int last = static_cast<int>(choices.size()) - 1;
    if (const MessageFunction& replacement = Replacement()) {
        replacement(parent, text, caption, icon);
        return Answer() ? Answer()(text, choices) : last;
    }
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(ToQt(icon), caption, QString(), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    std::vector<QAbstractButton*> buttons;
    for (const QString& choice : choices) buttons.push_back(box.addButton(choice, QMessageBox::AcceptRole));
    if (!buttons.empty()) {
        box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
        box.setEscapeButton(buttons.back());
    }
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) return static_cast<int>(i);
    }
    return last;
}

ChoiceAnswerFunction SetChoiceAnswerFunction(ChoiceAnswerFunction answer) {
    return std::exchange(Answer(), std::move(answer));
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
