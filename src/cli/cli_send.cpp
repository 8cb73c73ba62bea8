// voxletter-cli send: the composer's Send without a window. The draft is filled, checked and assembled as
// for "compose", then delivered to every recipient (or handed to the user's relay); progress goes to
// standard error and the final report, exactly as the report box would show it, to standard output.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>

#include "account/account_route.h"
#include "account/dmarc.h"
#include "account/keyring.h"
#include "cli/cli_commands.h"
#include "cli/cli_draft.h"
#include "cli/interrupt_watch.h"
#include "compose/mail_size.h"
#include "delivery/delivery_job.h"
#include "delivery/outbox.h"
#include "delivery/relay_settings.h"
#include "draft/sent_folder.h"

namespace vox::cli {
namespace {

const char kCancellingText[] = N_("正在取消（再按Ctrl+C立即停止）");
const char kRelayGroup[] = N_("中继（代替各收件人邮件交换服务器的25端口）");

// One line per status change: "recipient: status".
class StderrProgress : public DeliveryObserver {
public:
    void SetRecipientText(const std::string& address) override { m_recipient = address; }
    void StepRecipientBar() override {}
    void SetStepBar(int) override {}
    void StepStepBar() override {}
    void SetStepLine(const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", m_recipient.c_str(), text.c_str());
    }
    void Delivered(const std::string& address, bool encrypted, const std::string& reply) override {
        std::string said = reply;
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
        const std::string status =
            encrypted ? Format(Tr("已投递（加密传输）：%s"), said.c_str()) : Format(Tr("已投递（未加密）：%s"), said.c_str());
        std::fprintf(stderr, "%s: %s\n", address.c_str(), status.c_str());
    }

private:
    std::string m_recipient;
};

struct SendRequest {
    DraftRequest draft;
    std::string relay;  // --relay HOST[:PORT]; empty: relay.conf when it exists, else direct delivery
    std::string relayUser;
    std::string relayPasswordFile;
    bool noSentCopy = false;  // --no-sent-copy
};

// The password of an account whose keyring holds none: one line of standard input when that is not a
// terminal (a script pipes it, as for "account set"); a terminal gets a refusal that says what to do,
// since a prompt there would wait for a person the script may not have.
bool AskAccountPassword(const AccountRoute& route, RelaySettings& settings) {
    const std::string server = route.account.server.Name();
    if (isatty(STDIN_FILENO) == 0) {
        std::string line;
        if (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) {
                settings.password = std::move(line);
                return true;
            }
        }
    }
    Complain("send", Format(Tr("%s在%s上的账户没有密码（%s）：请用\"voxletter-cli account set\"保存，或在标准输入上给出一行密码"),
                            route.account.address.c_str(), server.c_str(), route.note.c_str()));
    return false;
}

// The DMARC policy of the sender's domain, said before a direct send: receivers that follow it refuse or
// file as spam what this machine sends under that domain. The send goes on as asked.
void WarnOfDmarc(const std::string& sender) {
    const std::string domain = AddressDomain(sender);
    if (domain.empty()) return;
    const std::optional<DmarcPolicy> policy = LookupDmarc(domain);
    if (!policy || (*policy != DmarcPolicy::Reject && *policy != DmarcPolicy::Quarantine)) return;
    const char* text =
        *policy == DmarcPolicy::Reject
            ? Tr("警告：%s公布了DMARC策略\"%s\"：大多数收件方会拒收从本机以%s名义发出的邮件；请设置发信账户"
                 "（voxletter-cli account set），通过你的服务商发送")
            : Tr("警告：%s公布了DMARC策略\"%s\"：大多数收件方会把从本机以%s名义发出的邮件当作垃圾邮件；请设置"
                 "发信账户（voxletter-cli account set），通过你的服务商发送");
    Complain("send", Format(text, domain.c_str(), DmarcPolicyName(*policy), sender.c_str()));
}

// The route of this send, first that applies: --relay, the sending account of the From address,
// relay.conf, and (relay left empty) direct delivery; with it, where a later try of a recipient that waits
// in the outbox finds the password again. False after a refusal was printed.
bool ChooseRelay(const SendRequest& req, const std::string& sender, std::optional<RelaySettings>& relay,
                 std::string& passwordSource) {
    std::string why;
    if (req.relay.empty()) {
        SecretServiceKeyring keyring;
        std::optional<AccountRoute> account = AccountRouteFor(sender, keyring, &why);
        if (!why.empty()) {
            Complain("send", Tr("发信账户设置无法使用：") + why);
            return false;
        }
        if (account) {
            RelaySettings settings = account->relay;
            settings.tlsMode = account->tls;
            if (!account->havePassword && !AskAccountPassword(*account, settings)) return false;
            Complain("send", Format(Tr("通过%s的账户发送"), account->account.address.c_str()));
            // Never the password itself: a retry asks the keyring again for this account's item.
            passwordSource = std::string(kPasswordFromKeyring) + account->account.address;
            relay = std::move(settings);
            return true;
        }
        relay = LoadRelayConfig(RelayConfigPath(), &why);
        if (!why.empty()) Complain("send", Tr("中继设置无法使用：") + why);
        passwordSource = "config";
        return why.empty();
    }
    RelaySettings settings;
    if (!ParseRelayAddress(req.relay, settings, &why)) {
        Complain("send", why);
        return false;
    }
    settings.user = req.relayUser;
    if (!req.relayPasswordFile.empty()) {
        if (!ReadPasswordFile(req.relayPasswordFile, settings.password, &why)) {
            Complain("send", why);
            return false;
        }
        std::error_code ec;
        passwordSource = "file:" + std::filesystem::absolute(req.relayPasswordFile, ec).string();
    } else if (const char* password = std::getenv(kRelayPasswordVariable)) {
        settings.password = password;
        passwordSource = "environment";
    } else {
        Complain("send", Format(Tr("没有中继的密码：请给出--relay-password-file FILE或设置$%s"), kRelayPasswordVariable));
        return false;
    }
    relay = std::move(settings);
    return true;
}

// The report as the report box shows it, and after the sentence about port 25 how to follow its advice
// here: a sending account for the sender (named when known), or a relay. 0 when every recipient was
// delivered, else 1.
int PrintReport(const FailureList& failures, bool portBlocked, const std::string& sender = "") {
    DeliveryReport report = BuildReport(failures, portBlocked);
    // The box shows "发送完毕" as it stands; a terminal wants the report's last line ended, in the
    // report's own CR LF.
    if (report.text.empty() || report.text.back() != '\n') report.text += "\r\n";
    std::fwrite(report.text.data(), 1, report.text.size(), stdout);
    if (report.portBlocked) {
        const char* address = sender.empty() ? "ADDRESS" : sender.c_str();
        std::fputs(Format(Tr("\n要改为通过你的邮箱服务商的服务器发送，请设置你的地址的发信账户：\n"
                             "  voxletter-cli account discover %s\n"
                             "查找服务商的服务器；然后\n"
                             "  voxletter-cli account set %s --host HOST --port PORT [--user NAME]\n"
                             "从标准输入读取密码存入密钥环；此后从该地址发出的每封邮件，无论在这里还是在写信窗口，\n"
                             "都通过那台服务器发送。\n"
                             "或者用--relay指定一台服务器：\n"
                             "  voxletter-cli send --relay smtp.example.com:587 --relay-user NAME --relay-password-file FILE ...\n"
                             "或者写入%s（\"host = HOST:PORT\"、\"user = NAME\"、\"password-file = FILE\"各一行；\n"
                             "chmod 600），此后每次发送和写信窗口都会使用它。\n"),
                          address, address, RelayConfigPath().c_str())
                       .c_str(),
                   stdout);
    }
    std::fflush(stdout);
    return report.allDelivered ? 0 : 1;
}

int RunSend(SendRequest& req) {
    MailDraft& draft = req.draft.draft;
    if (!CheckDraft(draft, "send")) return kExitRefused;
    std::optional<RelaySettings> relay;
    std::string passwordSource;
    // The account belongs to the address as the user wrote it (as "account set" took it).
    if (!ChooseRelay(req, draft.m_fromAddress.address, relay, passwordSource)) return kExitRefused;
    if (!AssembleDraft(draft, "send")) {
        Complain("send", Tr("邮件不完整，没有发送"));
        return kExitFailed;
    }
    // Said, not asked: a script gets the mail it asked for.
    if (const MailSizeCheck size = CheckMailSize(draft); size.tooBig) Complain("send", MailSizeWarningLine(size));
    if (relay)
        Complain("send", Format(Tr("通过中继%s:%d发送"), relay->host.c_str(), relay->port));
    else
        WarnOfDmarc(draft.m_fromAddress.envelope);

    StderrProgress progress;
    FailureList failures;
    bool portBlocked = false;
    std::shared_ptr<const std::string> mail;
    std::size_t recipients = 0;
    {
        // Ctrl+C plays the Cancel button; the next one ends the process, for a lookup or connect that the
        // cancel request cannot reach.
        // Kept until the watch ends: the signal handler writes it.
        const std::string note = std::string("voxletter-cli send: ") + Tr(kCancellingText) + "\n";
        InterruptWatch interrupt({SIGINT}, note.c_str());
        DeliveryRequest request;
        request.recipients = std::move(draft.m_recipients);
        request.envelopeSender = draft.m_fromAddress.envelope;
        request.message = std::make_shared<const std::string>(std::move(draft.m_strMime));
        OutboxRoute route;
        if (relay) route = {relay->host, relay->port, relay->user, passwordSource, relay->tlsMode};
        request.relay = std::move(relay);
        const std::string sender = request.envelopeSender;
        mail = request.message;
        recipients = request.recipients.size();
        DeliveryJob job(std::move(request), progress, interrupt.Flag());
        job.RunDelivery();
        failures = job.Failures();
        portBlocked = job.PortBlocked();
        Outbox outbox;
        if (const std::string why = outbox.Keep(*mail, sender, route, failures, std::time(nullptr)); !why.empty()) {
            // Nowhere to wait: those recipients are simply not delivered.
            Complain("send", Format(Tr("无法把等待的收件人保存在%s：%s"), outbox.Folder().c_str(), why.c_str()));
            for (DeliveryFailure& f : failures) f.kind = FailureKind::Final;
        }
    }
    // Every mail that reached someone is kept as it went out.
    if (!req.noSentCopy && failures.size() < recipients) {
        const SentCopy copy = KeepSentCopy(DefaultSentFolder(), *mail);
        if (copy.error.empty())
            Complain("send", Format(Tr("已发邮件的副本：%s"), copy.path.c_str()));
        else
            Complain("send", SentCopyLine(copy));
    }
    return PrintReport(failures, portBlocked, req.draft.draft.m_fromAddress.address);
}

struct OutboxRequest {
    std::string action;
    std::string address;
};

std::string LocalTime(std::int64_t when) {
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

int RunOutbox(const OutboxRequest& req) {
    if (req.action != "drop" && !req.address.empty()) {
        Complain("outbox", Format(Tr("%s不带ADDRESS（只有drop带）"), req.action.c_str()));
        return kExitRefused;
    }
    Outbox outbox;
    outbox.SetKeyringReader(OutboxKeyringReader(std::make_shared<SecretServiceKeyring>()));
    if (req.action == "list") {
        for (const WaitingRecipient& w : outbox.List()) {
            std::string reason = w.lastReason;
            for (char& c : reason)
                if (c == '\r' || c == '\n') c = ' ';
            while (!reason.empty() && reason.back() == ' ') reason.pop_back();
            // A line for scripts: its words stay the same in every language; only the reason is the
            // user's (it was written in the language of the program that tried).
            std::printf("%s\ttries %d\tnext %s\t%s\n", w.address.c_str(), w.tries, LocalTime(w.nextTry).c_str(),
                        reason.c_str());
        }
        return 0;
    }
    if (req.action == "drop") {
        if (req.address.empty()) {
            Complain("outbox", Tr("drop需要给出要删除的ADDRESS"));
            return kExitRefused;
        }
        if (outbox.Drop(req.address) == 0) {
            Complain("outbox", Format(Tr("%s不在发件箱中等待"), req.address.c_str()));
            return 1;
        }
        return 0;
    }
    StderrProgress progress;
    const std::string note = std::string("voxletter-cli outbox: ") + Tr(kCancellingText) + "\n";
    InterruptWatch interrupt({SIGINT}, note.c_str());
    const RetryOutcome outcome = outbox.Retry(std::time(nullptr), false, progress, interrupt.Flag());
    if (outcome.busy) {
        Complain("outbox", Tr("另一个程序正在重试发件箱"));
        return 1;
    }
    if (outcome.tried == 0) return 0;
    const int status = PrintReport(outcome.failures, outcome.portBlocked);
    return outcome.delivered == outcome.tried ? status : 1;
}

}  // namespace

void AddSendCommand(CommandLine& cli) {
    auto req = std::make_shared<SendRequest>();
    CLI::App& command =
        cli.AddCommand("send", N_("生成邮件并投递到每位收件人的邮件交换服务器。"),
                       [req] { return RunSend(*req); });
    AddDraftOptions(command, req->draft, false);
    CLI::Option* relay =
        command
            .add_option("--relay", req->relay,
                        Tr("你的服务商的服务器：587（默认）STARTTLS，465 TLS"))
            ->type_name("HOST[:PORT]")
            ->group(Tr(kRelayGroup));
    command.add_option("--relay-user", req->relayUser, Tr("在中继的登录名（AUTH PLAIN或LOGIN）"))
        ->type_name("NAME")
        ->group(Tr(kRelayGroup))
        ->needs(relay);
    relay->needs(command.get_option("--relay-user"));
    command
        .add_option("--relay-password-file", req->relayPasswordFile,
                    Tr("第一行为密码；chmod 600。否则用$VOXLETTER_RELAY_PASSWORD"))
        ->type_name("FILE")
        ->group(Tr(kRelayGroup))
        ->needs(relay);
    command.add_flag("--no-sent-copy", req->noSentCopy,
                     Tr("不在$XDG_DATA_HOME/voxletter/Sent（Maildir）中保留副本"));
    // Anything on a command line can be read by every user of the machine.
    command
        .add_option_function<std::string>(
            "--relay-password",
            [](const std::string&) {
                throw Refusal(Format(Tr("命令行上的密码每个用户都看得到；请用--relay-password-file或$%s"),
                                     kRelayPasswordVariable));
            },
            Tr("不接受：请用--relay-password-file或$VOXLETTER_RELAY_PASSWORD"))
        ->group("");
    command.footer(
        std::string(Tr(kDraftRulesNote)) +
        Tr("进度输出到标准错误，每次状态变化一行；然后报告输出到标准输出。\n"
           "发送途径，取第一个适用的：--relay；--from地址的发信账户（voxletter-cli account；密钥环中没有的\n"
           "密码在标准输入不是终端时从中读取一行）；$XDG_CONFIG_HOME/voxletter/relay.conf；否则直接投递到\n"
           "每位收件人的邮件交换服务器，若发件人的域名公布了reject或quarantine的DMARC策略，先在标准错误上警告。\n"
           "Ctrl+C像取消按钮一样取消发送；再按一次Ctrl+C立即停止。\n"
           "至少投递给一位收件人的邮件会逐字节保存在Maildir $XDG_DATA_HOME/voxletter/Sent\n"
           "（~/.local/share/voxletter/Sent）中，除非给出--no-sent-copy；副本的路径输出到标准错误。\n"
           "退出状态：0 每位收件人都已投递；1 有收件人未投递，或无法完整生成邮件；\n"
           "2 选项或字段检查拒绝了输入（原因见标准错误）。"));
}

void AddOutboxCommand(CommandLine& cli) {
    auto req = std::make_shared<OutboxRequest>();
    CLI::App& command = cli.AddCommand(
        "outbox", N_("等待重试的收件人：列出他们、立即重试，或删除其中一位。"),
        [req] { return RunOutbox(*req); });
    command.add_option("action", req->action, Tr("list、retry或drop"))
        ->required()
        ->check(CLI::IsMember({"list", "retry", "drop"}));
    command.add_option("address", req->address, Tr("drop：要删除的收件人"))->type_name("ADDRESS");
    command.footer(
        Tr("收件人的服务器回答4xx或无法连接任何邮件交换服务器时，该收件人进入等待；1、5、15和30分钟后\n"
           "再试，之后每小时一次，共两天，在写信窗口运行时或给出\"retry\"时进行。\n"
           "发件箱是$XDG_STATE_HOME/voxletter/outbox（~/.local/state/voxletter/outbox）。\n"
           "list：每位等待的收件人一行（地址、tries 已试次数、next 下次尝试、最后的原因）；没有人等待时不输出。\n"
           "retry：立即重试每位等待的收件人，并像send一样输出报告；全部投递时退出状态为0，否则为1。"));
}

}  // namespace vox::cli
