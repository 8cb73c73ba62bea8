#pragma once
// What a screen reader says for the controls whose visible caption does not say what they do ("+", "-", a
// bar, a colour swatch) or that have no caption of their own. Every other control is named by its caption
// or by the label that is its buddy. These are user texts: they are kept here, together, so that they are
// translated with the rest.

#include <QString>

namespace vox {

inline constexpr char kNameAddAttachment[] = "添加附件";
inline constexpr char kNameRemoveAttachment[] = "删除附件";
inline constexpr char kNameSendProgress[] = "发送进度";
inline constexpr char kNameChooseSoundFile[] = "选择声音文件";
inline constexpr char kNameRemoveSound[] = "去掉声音";
inline constexpr char kNameSound[] = "声音";
inline constexpr char kNameRepeatCount[] = "重复次数";
inline constexpr char kNameRecordProgress[] = "录音进度";
inline constexpr char kNamePlayProgress[] = "播放进度";
inline constexpr char kNameInputLevel[] = "输入音量";
inline constexpr char kNameRecipientProgress[] = "收件人进度";
inline constexpr char kNameStepProgress[] = "步骤进度";
inline constexpr char kNameChooseColor[] = "选择颜色";
inline constexpr char kNameChoosePicture[] = "选择图片文件";
inline constexpr char kNamePicture[] = "图片";
inline constexpr char kNameTextColor[] = "文字颜色";

inline QString AccessibleText(const char* utf8) { return QString::fromUtf8(utf8); }

// A caption as it is spoken: without its mnemonic, "发件人(&F)" as "发件人" and "&R" as "R".
inline QString SpokenCaption(QString caption) {
    static const QString ampersand = QStringLiteral("&");
    const qsizetype open = caption.indexOf(QStringLiteral("(&"));
    if (open >= 0 && caption.indexOf(QLatin1Char(')'), open) == open + 3) caption.remove(open, 4);
    return caption.remove(ampersand);
}

}  // namespace vox
