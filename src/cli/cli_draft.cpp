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
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "compose/address_list.h"
#include "sound/program_folder.h"

namespace vox::cli {
namespace fs = std::filesystem;

const char kFieldsHelp[] =
    "FIELDS\n"
    "  --from ADDR  --to LIST  --cc LIST  --bcc LIST  --subject TEXT\n"
    "                                    LIST: addresses separated by \";\"\n"
    "  --body TEXT | --body-file FILE    body text; LF line ends become CR LF\n"
    "  --font FACE (default 宋体)  --size POINTS (default 12)  --color RRGGBB (default 000000)\n"
    "  --bold  --italic  --underline  --strikeout  --align left|center|right (default left)\n"
    "  --background-color RRGGBB | --background-picture FILE\n"
    "  --sound FILE | --recording        --recording: the marker for \"Sound.wav\" in the program folder\n"
    "  --loops N                         0 (the default) plays endlessly\n"
    "  --attach FILE                     repeatable; kept sorted and unique, as the attachment list is\n"
    "Every option but --attach may be given once. A value may also be written --option=VALUE, which is\n"
    "the way to give a value that is itself one of these options.\n"
    "Exit status: 0 done; 1 some recipient was not delivered; 2 an option or the field check refused the\n"
    "input (the reason is on standard error).\n";

namespace {

enum class Opt {
    From,
    To,
    Cc,
    Bcc,
    Subject,
    Body,
    BodyFile,
    Font,
    Size,
    Color,
    Bold,
    Italic,
    Underline,
    Strikeout,
    Align,
    BackgroundColor,
    BackgroundPicture,
    Sound,
    Recording,
    Loops,
    Attach,
    Output,
};

struct OptionSpec {
    const char* name;
    Opt opt;
    bool takesValue;
};

constexpr OptionSpec kOptions[] = {
    {"--from", Opt::From, true},
    {"--to", Opt::To, true},
    {"--cc", Opt::Cc, true},
    {"--bcc", Opt::Bcc, true},
    {"--subject", Opt::Subject, true},
    {"--body", Opt::Body, true},
    {"--body-file", Opt::BodyFile, true},
    {"--font", Opt::Font, true},
    {"--size", Opt::Size, true},
    {"--color", Opt::Color, true},
    {"--bold", Opt::Bold, false},
    {"--italic", Opt::Italic, false},
    {"--underline", Opt::Underline, false},
    {"--strikeout", Opt::Strikeout, false},
    {"--align", Opt::Align, true},
    {"--background-color", Opt::BackgroundColor, true},
    {"--background-picture", Opt::BackgroundPicture, true},
    {"--sound", Opt::Sound, true},
    {"--recording", Opt::Recording, false},
    {"--loops", Opt::Loops, true},
    {"--attach", Opt::Attach, true},
    {"-o", Opt::Output, true},
};

// Pairs of which only one may be given: they set the same field.
constexpr std::pair<Opt, Opt> kExclusive[] = {
    {Opt::Body, Opt::BodyFile},
    {Opt::BackgroundColor, Opt::BackgroundPicture},
    {Opt::Sound, Opt::Recording},
};

const OptionSpec* FindOption(std::string_view name) {
    for (const OptionSpec& known : kOptions) {
        if (name == known.name) return &known;
    }
    return nullptr;
}

const char* NameOf(Opt opt) {
    for (const OptionSpec& known : kOptions) {
        if (known.opt == opt) return known.name;
    }
    return "?";
}

void Complain(std::string_view command, const std::string& text) {
    std::fprintf(stderr, "voxletter-cli %.*s: %s\n", static_cast<int>(command.size()), command.data(),
                 text.c_str());
}

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

bool ParseCount(std::string_view text, int& value) {
    if (text.empty() || text.size() > 10) return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > INT_MAX) return false;
    value = static_cast<int>(v);
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

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    std::ostringstream buf;
    buf << in.rdbuf();
    if (in.bad()) {
        error = "read error";
        return false;
    }
    text = std::move(buf).str();
    return true;
}

// A value that is itself one of our options means the value was left out ("--to --cc x@y.z"). Anything
// else is taken as it stands, so a subject may begin with "--".
bool LooksLikeOption(std::string_view arg) {
    return arg == "--help" || arg == "-h" || FindOption(arg.substr(0, arg.find('='))) != nullptr;
}

class StderrSink : public AssemblySink {
public:
    StderrSink(std::string_view command, const std::function<void()>& onStep)
        : m_command(command), m_onStep(onStep) {}
    void Step() override {
        if (m_onStep) m_onStep();
    }
    void ShowError(const std::string& text) override { Complain(m_command, text); }

private:
    std::string_view m_command;
    const std::function<void()>& m_onStep;
};

}  // namespace

std::optional<DraftRequest> ParseDraftArgs(const Args& args, bool allowOutput, std::string_view command) {
    DraftRequest req;
    MailDraft& d = req.draft;
    std::set<Opt> seen;
    const auto refuse = [&](const std::string& text) -> std::optional<DraftRequest> {
        Complain(command, text + " (--help lists the options)");
        return std::nullopt;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            req.help = true;
            return req;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
        }
        const OptionSpec* known = FindOption(name);
        if (known == nullptr || (known->opt == Opt::Output && !allowOutput)) {
            if (arg.empty() || arg[0] != '-') return refuse("unexpected argument \"" + arg + "\"");
            return refuse("unknown option \"" + name + "\"");
        }
        if (!known->takesValue && value) return refuse("option " + name + " takes no value");
        if (known->takesValue && !value) {
            if (i + 1 >= args.size() || LooksLikeOption(args[i + 1]))
                return refuse("option " + name + " needs a value");
            value = args[++i];
        }
        if (known->opt != Opt::Attach && !seen.insert(known->opt).second) {
            return refuse("option " + name + " given more than once");
        }
        for (const auto& [a, b] : kExclusive) {
            const Opt other = known->opt == a ? b : known->opt == b ? a : known->opt;
            if (other != known->opt && seen.count(other) != 0) {
                return refuse(std::string("options ") + NameOf(a) + " and " + NameOf(b) +
                              " exclude each other");
            }
        }

        const std::string v = value.value_or(std::string());
        switch (known->opt) {
            case Opt::From:
                d.m_strFrom = v;
                break;
            case Opt::To:
                d.m_strTo = v;
                break;
            case Opt::Cc:
                d.m_strCc = v;
                break;
            case Opt::Bcc:
                d.m_strBcc = v;
                break;
            case Opt::Subject:
                d.m_strSubject = v;
                break;
            case Opt::Body:
                d.m_strBody = WithCrLf(v);
                break;
            case Opt::BodyFile: {
                std::string text, error;
                if (v.empty() || !ReadWholeFile(v, text, error)) {
                    return refuse("cannot read the body file \"" + v + "\"" +
                                  (error.empty() ? "" : ": " + error));
                }
                d.m_strBody = WithCrLf(text);
                break;
            }
            case Opt::Font:
                if (v.empty()) return refuse("option --font needs a face name");
                d.m_charFormat.szFaceName = v;
                break;
            case Opt::Size:
                if (!ParsePoints(v, d.m_charFormat.yHeight)) {
                    return refuse("option --size needs a point size from 1 to 1638, not \"" + v + "\"");
                }
                break;
            case Opt::Color:
                if (!ParseColor(v, d.m_charFormat.crTextColor)) {
                    return refuse("option --color needs RRGGBB in hexadecimal, not \"" + v + "\"");
                }
                break;
            case Opt::Bold:
                d.m_charFormat.dwEffects |= CFE_BOLD;
                break;
            case Opt::Italic:
                d.m_charFormat.dwEffects |= CFE_ITALIC;
                break;
            case Opt::Underline:
                d.m_charFormat.dwEffects |= CFE_UNDERLINE;
                break;
            case Opt::Strikeout:
                d.m_charFormat.dwEffects |= CFE_STRIKEOUT;
                break;
            case Opt::Align:
                if (v == "left")
                    d.m_paraFormat.wAlignment = PFA_LEFT;
                else if (v == "center")
                    d.m_paraFormat.wAlignment = PFA_CENTER;
                else if (v == "right")
                    d.m_paraFormat.wAlignment = PFA_RIGHT;
                else
                    return refuse("option --align needs left, center or right, not \"" + v + "\"");
                break;
            case Opt::BackgroundColor:
                if (!ParseColor(v, d.m_crBackground)) {
                    return refuse("option --background-color needs RRGGBB in hexadecimal, not \"" + v + "\"");
                }
                d.m_nBackgroundMode = 0;
                break;
            case Opt::BackgroundPicture:
                if (v.empty()) return refuse("option --background-picture needs a file");
                d.m_nBackgroundMode = 1;
                d.m_strPicture = FullPath(v);
                break;
            case Opt::Sound:
                if (v.empty()) return refuse("option --sound needs a file");
                d.m_strSound = FullPath(v);
                break;
            case Opt::Recording:
                d.m_strSound = kRecordingMarker;
                break;
            case Opt::Loops:
                if (!ParseCount(v, d.m_nSoundLoops)) {
                    return refuse("option --loops needs a whole number from 0 up, not \"" + v + "\"");
                }
                break;
            case Opt::Attach: {
                if (v.empty()) return refuse("option --attach needs a file");
                const std::string path = FullPath(v);
                const auto at = std::lower_bound(d.m_attachments.begin(), d.m_attachments.end(), path);
                if (at == d.m_attachments.end() || *at != path) d.m_attachments.insert(at, path);
                break;
            }
            case Opt::Output:
                if (v.empty()) return refuse("option -o needs a file");
                req.outputPath = v;
                break;
        }
    }
    return req;
}

bool CheckDraft(MailDraft& draft, std::string_view command) {
    const DraftCheck check = ValidateDraft(draft);
    if (!check.ok) {
        Complain(command, check.message);
        if (check.hasSelection) {
            const std::string& text = check.focusField == kFieldTo   ? draft.m_strTo
                                      : check.focusField == kFieldCc ? draft.m_strCc
                                                                     : draft.m_strBcc;
            const std::string entry = text.substr(check.selStart, check.selEnd - check.selStart);
            std::fprintf(stderr, "  the entry \"%s\" at byte %zu is not an address\n", entry.c_str(),
                         check.selStart);
        }
        return false;
    }
    // The window's subject field is one line; here it is an argument, and a line break would end the
    // Subject header and start another.
    if (draft.m_strSubject.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        Complain(command, "the subject must not contain a line break");
        return false;
    }
    draft.m_nExpectedSteps = static_cast<int>(draft.m_attachments.size()) + 6;
    return true;
}

void AssembleDraft(MailDraft& draft, std::string_view command, const std::function<void()>& onStep) {
    StderrSink sink(command, onStep);
    AssembleMessage(draft, ProgramFolder(), sink);
}

std::optional<MailDraft> PrepareDraft(const Args& args, std::string* outputPath, int& exitCode,
                                      std::string_view command) {
    std::optional<DraftRequest> req = ParseDraftArgs(args, outputPath != nullptr, command);
    if (!req) {
        exitCode = kExitRefused;
        return std::nullopt;
    }
    if (req->help) {
        std::printf("usage: voxletter-cli %.*s [FIELDS]%s\n", static_cast<int>(command.size()),
                    command.data(), outputPath != nullptr ? " [-o FILE]" : "");
        if (outputPath != nullptr)
            std::fputs(
                "  -o FILE                           write the mail there instead of to standard output\n",
                stdout);
        std::fputs(kFieldsHelp, stdout);
        exitCode = 0;
        return std::nullopt;
    }
    if (!CheckDraft(req->draft, command)) {
        exitCode = kExitRefused;
        return std::nullopt;
    }
    AssembleDraft(req->draft, command);
    if (outputPath != nullptr) *outputPath = req->outputPath;
    exitCode = 0;
    return std::move(req->draft);
}

}  // namespace vox::cli
