#include "dialogs/data_exchange.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>

#include "base/number_text.h"
#include "dialogs/message_box.h"
#include "dialogs/ui_text.h"

namespace vox {

const char* const kMsgEnterPositiveInteger = N_("“请填入一个正整数。”");
const char* const kMsgEnterByte = N_("“请填入一个在0和255之间的整数。”");

namespace {

// The edit reads at most this many characters; anything after them is never looked at.
constexpr int kFieldReadLength = 31;

bool Refuse(QWidget* window, QLineEdit* edit, const char* message) {
    ShowMessage(window, UiText(message), ApplicationTitle(), MessageIcon::Exclamation);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
    return false;
}

}  // namespace

QString ApplicationTitle() {
    const QString exe = QCoreApplication::applicationFilePath();
    return exe.isEmpty() ? QCoreApplication::applicationName() : QFileInfo(exe).completeBaseName();
}

bool ReadUnsignedEdit(QWidget* window, QLineEdit* edit, uint32_t& value) {
    const QByteArray typed = edit->text().left(kFieldReadLength).toUtf8();
    const std::optional<uint32_t> parsed = ParseUnsignedDecimal({typed.constData(), size_t(typed.size())});
    if (!parsed) return Refuse(window, edit, kMsgEnterPositiveInteger);
    value = *parsed;
    return true;
}

bool ReadByteEdit(QWidget* window, QLineEdit* edit, uint32_t& value) {
    uint32_t read = 0;
    if (!ReadUnsignedEdit(window, edit, read)) return false;
    if (read > 255) return Refuse(window, edit, kMsgEnterByte);
    value = read;
    return true;
}

void WriteUnsignedEdit(QLineEdit* edit, uint32_t value) { edit->setText(QString::number(value)); }

}  // namespace vox
