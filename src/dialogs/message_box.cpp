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
#include <QVariant>

#include <utility>

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

// The index in the choices of the button that carries it.
const char kChoiceProperty[] = "voxChoice";

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
                                           MessageIcon icon, const QStringList& choices) {
    // The texts carry Windows-style line ends from the logic; the windows want plain "\n" and no markup.
    const QString plain = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QScreen* screen = parent != nullptr && parent->screen() != nullptr ? parent->screen()
                                                                            : QApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    const int lineHeight = QFontMetrics(QApplication::font()).lineSpacing();
    const int lines = static_cast<int>(plain.count(QLatin1Char('\n'))) + 1;
    if (lines * lineHeight <= available.height() / 3) {
        auto box = std::make_unique<QMessageBox>(ToQt(icon), caption, plain,
                                                 choices.isEmpty() ? QMessageBox::Ok : QMessageBox::NoButton, parent);
        box->setTextFormat(Qt::PlainText);
        if (choices.isEmpty()) {
            box->button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
            return box;
        }
        for (int i = 0; i < choices.size(); ++i) {
            QPushButton* button = box->addButton(choices[i], QMessageBox::AcceptRole);
            button->setProperty(kChoiceProperty, i);
            if (i == 0) box->setDefaultButton(button);
            if (i == choices.size() - 1) box->setEscapeButton(button);
        }
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
    auto* buttons = new QDialogButtonBox(window.get());
    if (choices.isEmpty()) {
        buttons->addButton(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
        QObject::connect(buttons, &QDialogButtonBox::accepted, window.get(), &QDialog::accept);
    }
    // Button i ends the window with the result i + 1; closing it gives 0, which AskMessage takes as the last.
    for (int i = 0; i < choices.size(); ++i) {
        QPushButton* button = buttons->addButton(choices[i], QDialogButtonBox::ActionRole);
        button->setProperty(kChoiceProperty, i);
        button->setDefault(i == 0);
        QDialog* dialog = window.get();
        QObject::connect(button, &QPushButton::clicked, dialog, [dialog, i] { dialog->done(i + 1); });
    }
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
    if (choices.isEmpty()) {
        ShowMessage(parent, text, caption, icon);
        return last;
    }
    if (!parent) parent = QApplication::activeWindow();
    // A box, or for a tall text the window that scrolls it, with the choices as its buttons.
    const std::unique_ptr<QDialog> window = MakeMessageWindow(parent, text, caption, icon, choices);
    const int result = window->exec();
    if (const auto* box = qobject_cast<QMessageBox*>(window.get())) {
        const QAbstractButton* clicked = box->clickedButton();
        const QVariant choice = clicked != nullptr ? clicked->property(kChoiceProperty) : QVariant();
        return choice.isValid() ? choice.toInt() : last;
    }
    return result >= 1 && result <= last + 1 ? result - 1 : last;
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
