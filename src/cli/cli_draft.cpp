#include "cli/cli_draft.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/program_folder.h"
#include "base/regular_file.h"
#include "base/text_rules.h"
#include "compose/address_list.h"

namespace vox::cli {
namespace fs = std::filesystem;

const char kDraftRulesNote[] =
    N_("除--attach外，每个选项只能给出一次。值也可以写成--option=VALUE，以\"-\"开头的值要这样写。\n");

namespace {

constexpr char kFieldsGroup[] = N_("字段");
constexpr char kFormatGroup[] = N_("正文格式");
constexpr char kExtrasGroup[] = N_("背景、声音和附件");

// The composer's editor separates lines with CR LF; a file or argument from a Unix shell has bare LFs.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

// The draft holds full paths, as the file choosers give them.
std::string FullPath(const std::string& path) {
    std::error_code ec;
    fs::path full = fs::absolute(path, ec);
    if (ec) return path;
    return full.lexically_normal().string();
}

bool ParseColor(std::string_view text, COLORREF& color) {
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    if (text.size() != 6) return false;
    unsigned v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v << 4 | static_cast<unsigned>(d);
    }
    // RRGGBB as typed, 0x00BBGGRR as kept.
    color = ((v >> 16) & 0xFF) | (v & 0xFF00) | ((v & 0xFF) << 16);
    return true;
}

// Point sizes as the font window offers them, halves included (10.5). The height is kept in twips.
bool ParsePoints(const std::string& text, int& twips) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])))) return false;
    char* end = nullptr;
    errno = 0;
    const double points = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !(points > 0) || points > 1638) return false;
    twips = static_cast<int>(std::lround(points * 20));
    return twips > 0;
}

void RequireFile(const std::string& option, const std::string& value) {
    if (value.empty()) throw Refusal(Format(Tr("选项%s需要一个文件"), option.c_str()));
}

class StderrSink : public AssemblySink {
public:
    StderrSink(std::string_view command, const std::function<void()>& onStep)
        : m_command(command), m_onStep(onStep) {}
    void Step() override {
        if (m_onStep) m_onStep();
    }
    void ShowError(const std::string& text) override {
        Complain(m_command, text);
        m_failed = true;
    }
    // Said, but the mail is complete: it is written or sent as usual.
    void ShowNotice(const std::string& text) override { Complain(m_command, text); }
    bool Failed() const { return m_failed; }

private:
    bool m_failed = false;
    std::string_view m_command;
    const std::function<void()>& m_onStep;
};

}  // namespace

void AddDraftOptions(CLI::App& command, DraftRequest& req, bool allowOutput) {
    MailDraft& d = req.draft;
    const auto text = [&](const char* name, std::string& field, const char* type, const char* help) {
        command.add_option(name, field, Tr(help))->type_name(type)->group(Tr(kFieldsGroup));
    };
    const auto value = [&](const char* name, const char* type, const char* group, const std::string& help,
                           std::function<void(const std::string&)> take) {
        return command.add_option_function<std::string>(name, std::move(take), help)
            ->type_name(type)
            ->group(Tr(group));
    };
    const auto flag = [&](const char* name, const char* group, const char* help, std::function<void()> take) {
        return command.add_flag_callback(name, std::move(take), Tr(help))
            ->group(Tr(group))
            ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
    };

    text("--from", d.m_strFrom, "ADDR", N_("发件人"));
    text("--to", d.m_strTo, "LIST", N_("收件人；LIST：以\";\"分隔的地址"));
    text("--cc", d.m_strCc, "LIST", N_("抄送"));
    text("--bcc", d.m_strBcc, "LIST", N_("暗送"));
    text("--subject", d.m_strSubject, "TEXT", N_("主题"));
    CLI::Option* body =
        value("--body", "TEXT", kFieldsGroup, Tr("正文文本，或用--body-file；LF行尾变为CR LF"),
              [&d](const std::string& v) { d.m_strBody = WithCrLf(v); });
    CLI::Option* bodyFile =
        value("--body-file", "FILE", kFieldsGroup, Tr("从文件读取的正文文本"), [&d](const std::string& v) {
            std::string read;
            switch (v.empty() ? ReadResult::CannotOpen : ReadRegularFile(v, kMaxMailSize, read)) {
            case ReadResult::Ok:
                break;
            case ReadResult::TooLarge:
                throw Refusal(Tr(kMailTooLargeText));
            case ReadResult::CannotOpen:
                throw Refusal(Format(Tr("无法读取正文文件\"%s\"：不是可读的普通文件"), v.c_str()));
            case ReadResult::ReadError:
                throw Refusal(Format(Tr("无法读取正文文件\"%s\"：读取出错"), v.c_str()));
            }
            d.m_strBody = WithCrLf(read);
        });
    body->excludes(bodyFile);

    // The defaults are the draft's own, the ones the composer's body starts with.
    const std::string fontHelp = Format(Tr("字体（默认%s）"), kDefaultFaceName);
    const std::string sizeHelp = Format(Tr("字号，1至1638，可带半磅（默认%d）"), kDefaultHeight / 20);
    value("--font", "FACE", kFormatGroup, fontHelp, [&d](const std::string& v) {
        if (v.empty()) throw Refusal(Format(Tr("选项%s需要一个字体名"), "--font"));
        d.m_charFormat.szFaceName = v;
    });
    value("--size", "POINTS", kFormatGroup, sizeHelp,
          [&d](const std::string& v) {
              if (!ParsePoints(v, d.m_charFormat.yHeight))
                  RefuseValue("--size", Tr("1至1638的磅值"), v);
          });
    value("--color", "RRGGBB", kFormatGroup, Tr("文字颜色（默认000000）"), [&d](const std::string& v) {
        if (!ParseColor(v, d.m_charFormat.crTextColor)) RefuseValue("--color", Tr("十六进制的RRGGBB"), v);
    });
    flag("--bold", kFormatGroup, N_("粗体"), [&d] { d.m_charFormat.dwEffects |= CFE_BOLD; });
    flag("--italic", kFormatGroup, N_("斜体"), [&d] { d.m_charFormat.dwEffects |= CFE_ITALIC; });
    flag("--underline", kFormatGroup, N_("下划线"), [&d] { d.m_charFormat.dwEffects |= CFE_UNDERLINE; });
    flag("--strikeout", kFormatGroup, N_("删除线"), [&d] { d.m_charFormat.dwEffects |= CFE_STRIKEOUT; });
    value("--align", "left|center|right", kFormatGroup, Tr("对齐方式（默认left）"),
          [&d](const std::string& v) {
              if (v == "left")
                  d.m_paraFormat.wAlignment = PFA_LEFT;
              else if (v == "center")
                  d.m_paraFormat.wAlignment = PFA_CENTER;
              else if (v == "right")
                  d.m_paraFormat.wAlignment = PFA_RIGHT;
              else
                  RefuseValue("--align", Tr("left、center或right"), v);
          });

    CLI::Option* backgroundColor =
        value("--background-color", "RRGGBB", kExtrasGroup, Tr("页面颜色，或用--background-picture"),
              [&d](const std::string& v) {
                  if (!ParseColor(v, d.m_crBackground))
                      RefuseValue("--background-color", Tr("十六进制的RRGGBB"), v);
                  d.m_nBackgroundMode = 0;
              });
    CLI::Option* backgroundPicture = value("--background-picture", "FILE", kExtrasGroup,
                                           Tr("平铺在页面背后的图片"), [&d](const std::string& v) {
                                               RequireFile("--background-picture", v);
                                               d.m_nBackgroundMode = 1;
                                               d.m_strPicture = FullPath(v);
                                           });
    backgroundColor->excludes(backgroundPicture);
    CLI::Option* sound = value("--sound", "FILE", kExtrasGroup, Tr("页面播放的声音，或用--recording"),
                               [&d](const std::string& v) {
                                   RequireFile("--sound", v);
                                   d.m_strSound = FullPath(v);
                               });
    CLI::Option* recording =
        flag("--recording", kExtrasGroup, N_("录音，即程序文件夹中的\"Sound.wav\""),
             [&d] { d.m_strSound = kRecordingMarker; });
    sound->excludes(recording);
    value("--voice-format", "wav|opus|mp3", kExtrasGroup,
          Tr("声音在邮件中的格式（默认wav：文件原样）；Ogg和MP3原样附上"),
          [&d](const std::string& v) {
              const std::optional<VoiceFormat> format = ParseVoiceFormat(v);
              if (!format)
                  throw Refusal(Format(Tr("选项%s：\"%s\"不是wav、opus或mp3"), "--voice-format", v.c_str()));
              d.m_voice.format = *format;
          });
    flag("--normalize-voice", kExtrasGroup, N_("把邮件中声音副本的响度调到-16 LUFS（EBU R128）"),
         [&d] { d.m_voice.normalize = true; });
    command
        .add_option("--loops", d.m_nSoundLoops, Tr("声音播放的次数；0（默认）为无限循环"))
        ->type_name("N")
        ->group(Tr(kExtrasGroup))
        ->transform(WholeNumber(0, INT_MAX, Tr("从0起的整数")));
    command
        .add_option_function<std::vector<std::string>>(
            "--attach",
            [&d](const std::vector<std::string>& files) {
                for (const std::string& v : files) {
                    RequireFile("--attach", v);
                    // Kept as the attachment list keeps them: sorted, each once.
                    const std::string path = FullPath(v);
                    const auto at = std::lower_bound(d.m_attachments.begin(), d.m_attachments.end(), path);
                    if (at == d.m_attachments.end() || *at != path) d.m_attachments.insert(at, path);
                }
            },
            Tr("要附加的文件；可以重复给出，排序并去掉重复"))
        ->type_name("FILE")
        ->group(Tr(kExtrasGroup))
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    if (allowOutput) {
        command
            .add_option_function<std::string>(
                "-o",
                [&req](const std::string& v) {
                    RequireFile("-o", v);
                    req.outputPath = v;
                },
                Tr("把邮件写入FILE，而不是标准输出"))
            ->type_name("FILE");
    }
}

std::optional<DraftRequest> ParseDraftArgs(const Args& args, bool allowOutput, std::string_view command) {
    DraftRequest req;
    CLI::App app("", std::string(command));
    ApplyRules(app);
    AddDraftOptions(app, req, allowOutput);
    if (ParseCommand(app, args)) return std::nullopt;
    return req;
}

bool CheckDraft(MailDraft& draft, std::string_view command) {
    const DraftCheck check = ValidateDraft(draft, RecordingPath());
    if (!check.ok) {
        Complain(command, check.message);
        if (check.hasSelection) {
            const std::string& text = check.focusField == kFieldTo   ? draft.m_strTo
                                      : check.focusField == kFieldCc ? draft.m_strCc
                                                                     : draft.m_strBcc;
            const std::string entry = text.substr(check.selStart, check.selEnd - check.selStart);
            std::fputs(Format(Tr("  条目\"%s\"（第%zu字节）不是邮件地址\n"), entry.c_str(), check.selStart).c_str(),
                       stderr);
        }
        return false;
    }
    // The window's subject field is one line; here it is an argument, and a line break would end the
    // Subject header and start another.
    if (HasLineBreakOrNul(draft.m_strSubject)) {
        Complain(command, Tr("主题不能含有换行"));
        return false;
    }
    draft.m_nExpectedSteps = static_cast<int>(draft.m_attachments.size()) + 6;
    return true;
}

bool AssembleDraft(MailDraft& draft, std::string_view command, const std::function<void()>& onStep) {
    StderrSink sink(command, onStep);
    try {
        AssembleMessage(draft, ProgramFolder(), sink);
    } catch (const std::bad_alloc&) {
        // Whatever was built is gone with the exception; the process goes on with its memory back.
        std::string().swap(draft.m_strMime);
        Complain(command, Tr(kMailTooLargeText));
        return false;
    }
    return !sink.Failed();
}

}  // namespace vox::cli
