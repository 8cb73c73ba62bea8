#pragma once
// One recipient that could not be delivered, and the per-exchanger attempt that produces such records.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/translate.h"

namespace vox {

// Whether a recipient that was not delivered is worth another try later.
enum class FailureKind {
    Final,      // refused for good (5xx, no such domain, cancelled ...): reported, never retried
    Temporary,  // a 4xx from the last exchanger that answered, or no exchanger could be reached: waits
};

// One recipient that was not delivered. Address and reason are kept whole.
struct DeliveryFailure {
    std::string szAddress;
    std::string szReason;  // a fixed text, or the server's reply that refused the recipient
    FailureKind kind = FailureKind::Final;
    // Not one connection could be made, to any address of any exchanger, although DNS named them.
    bool unreachable = false;
};

// The kind a server's reply gives a refusal: 4xx is temporary (RFC 5321 4.2.1), anything else final.
FailureKind KindOfReply(const std::string& reason);

using FailureList = std::vector<DeliveryFailure>;

// An empty result means the recipient was delivered.
using DeliveryResult = std::optional<DeliveryFailure>;

// One delivery attempt to one mail exchanger: (exchanger host name, full recipient address).
using ExchangerAttempt =
    std::function<DeliveryResult(const std::string& exchangerHost, const std::string& address)>;

// Texts of the delivery reasons that do not come from a server. They are stored translated (Tr) where a
// reason is produced, and compared translated too: a process keeps its one language.
inline constexpr const char kReasonNoMailServer[] = N_("无法获得邮件服务器");
inline constexpr const char kReasonCannotConnect[] = N_("无法连接对方服务器");
inline constexpr const char kReasonConnectionBroken[] = N_("服务器意外中断连接");
inline constexpr const char kReasonReplyTimedOut[] = N_("等待服务器响应超时");
inline constexpr const char kReasonNullMx[] = N_("该域名不接收邮件");
inline constexpr const char kReasonCancelled[] = N_("发送已取消");
inline constexpr const char kReasonBadArgument[] = N_("命令参数含有回车、换行或空字符，未发送");
inline constexpr const char kReasonCommandTooLong[] = N_("命令行超过12288字节，未发送");
inline constexpr const char kReasonNoStartTls[] = N_("服务器不提供加密连接（STARTTLS），未发送");
inline constexpr const char kReasonTlsFailed[] = N_("加密连接失败：");            // followed by the cause
inline constexpr const char kReasonCertificate[] = N_("服务器证书未通过验证：");  // followed by the cause
inline constexpr const char kReasonSenderNotAscii[] =
    N_("发件人地址含有非ASCII字符，对方服务器不支持SMTPUTF8，未发送");
inline constexpr const char kReasonNoAuth[] = N_("服务器不提供PLAIN或LOGIN登录方式，未发送");
// Through the user's own server: the failure is theirs to mend, so the report names that server.
inline constexpr const char kReasonCannotConnectRelay[] = N_("无法连接发件服务器");  // followed by " HOST:PORT"
inline constexpr const char kReasonRelayLogin[] = N_("发件服务器");  // " HOST:PORT", kReasonLoginRefused, the answer
// TRANSLATORS: follows the name of the outgoing server, and is followed by the server's answer.
inline constexpr const char kReasonLoginRefused[] = N_(" 拒绝登录：");
inline constexpr const char kReasonAppPassword[] =
    N_("该服务商要求邮件程序使用专用密码（授权码）：请在邮箱网页的安全设置中生成一个，用它代替平时的登录密码。");

}  // namespace vox
