#pragma once
// Who makes VoxLetter and where to find the rest of their work. The one place for these texts: the
// composer's other-works button, the information pane and the about box all take them from here, and
// show them in the user's language (N_ marks them for the catalog).

#include "base/translate.h"

namespace vox {

inline constexpr const char kMakerName[] = N_("VoxLetter 开发组");
inline constexpr const char kOtherWorksUrl[] = "https://voxletter.example.org/works";
inline constexpr const char kMakerCredit[] = N_("(C) VoxLetter 开发组");
inline constexpr const char kProductTitle[] = N_("VoxLetter语音邮件2.0");

// The information pane beside the help pane on the composer.
inline constexpr const char kProductInformation[] = N_(
    "    VoxLetter语音邮件2.0\n\n"
    "    把声音放进邮件：录一段话或选一首曲子，收件人一打开邮件就能听到。"
    "还可以为邮件配上背景颜色或背景图片，并附加任意文件。\n\n"
    "    邮件由本机直接投递到收件人的邮件服务器，不需要邮箱账号，也不需要发信服务器。\n\n"
    "    版权所有 (C) VoxLetter 开发组");

}  // namespace vox
