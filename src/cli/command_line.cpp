#include "cli/command_line.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>

#include "base/number_text.h"
#include "base/version.h"

namespace vox::cli {
namespace {

constexpr char kHelpHint[] = N_("（--help列出选项）");

// As CLI11 tells options from values: "-" followed by anything but a digit ("-1" is a value, a negative
// number, which the number checks then refuse in their own words).
bool LooksLikeOption(std::string_view arg) {
    return arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]));
}

CLI::App* FindCommand(CLI::App& app, const std::string& name) {
    const std::vector<CLI::App*> found =
        app.get_subcommands([&](CLI::App* sub) { return sub->check_name(name); });
    return found.empty() ? nullptr : found.front();
}

// The command line as CLI11 should see it, or the first left-out value.
struct Prepared {
    Args args;
    std::string command;  // the command whose option it was
    std::string refusal;  // empty: none
};

// CLI11 takes the argument after an option as its value whatever it looks like. Ours must not: a value
// left out before the next option would swallow that option. Those are refused here, in the order of the
// command line; the walk stops at the first option it does not know, which the parse then reports.
// "--name=" is passed on as "--name" "": CLI11 would otherwise take the next argument as the value, where
// an empty value was meant (--subject="$EMPTY").
Prepared Prepare(CLI::App& app, const Args& args, bool isProgram) {
    Prepared out;
    out.args.reserve(args.size());
    CLI::App* current = &app;
    out.command = isProgram ? std::string() : app.get_name();
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") break;
        if (!LooksLikeOption(arg)) {
            if (isProgram && current == &app) {
                if (CLI::App* command = FindCommand(app, arg)) {
                    current = command;
                    out.command = command->get_name();
                }
            }
            out.args.push_back(arg);
            continue;
        }
        const bool isLong = arg.compare(0, 2, "--") == 0;
        const std::size_t eq = isLong ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        const CLI::Option* option =
            (isLong || arg.size() == 2) ? current->get_option_no_throw(name) : nullptr;
        if (option == nullptr || option->get_items_expected_max() == 0) {
            if (option == nullptr && (isLong || arg.size() == 2)) break;
            out.args.push_back(arg);  // a flag, or a short option with its value attached
            continue;
        }
        if (eq != std::string::npos) {
            out.args.push_back(name);
            out.args.push_back(arg.substr(eq + 1));
            continue;
        }
        out.args.push_back(arg);
        if (i + 1 < args.size()) {
            if (LooksLikeOption(args[i + 1])) {
                out.refusal = Format(Tr("选项%s需要一个值"), name.c_str());
                return out;
            }
            out.args.push_back(args[++i]);
        }
    }
    out.args.insert(out.args.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return out;
}

// CLI11's messages begin with the option's name: "--to: At Most 1 required but received 2".
std::string NameBefore(const std::string& text, std::string_view separator) {
    return text.substr(0, text.find(separator));
}

// The position of an option among the command's options, for naming a pair in a fixed order.
std::size_t DeclarationIndex(const CLI::App& command, const std::string& name) {
    const std::vector<const CLI::Option*> options = command.get_options();
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i]->check_name(name)) return i;
    }
    return options.size();
}

// CLI11's refusals in the words of this tool. The texts matched are CLI11's own (Debian 12 ships 2.1);
// tests/compose/cli_options_test.py pins what each becomes.
std::string RefusalText(const CLI::ParseError& error, const CLI::App& command) {
    const std::string what = error.what();
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
        if (what.find(" was given a disallowed flag override") != std::string::npos) {
            std::string name = NameBefore(what, " ");
            if (name.compare(0, 1, "-") != 0) name.insert(0, name.size() == 1 ? "-" : "--");
            return Format(Tr("选项%s不带值"), name.c_str());
        }
        const std::string name = NameBefore(what, ": ");
        if (what.size() > 8 && what.compare(what.size() - 8, 8, " missing") == 0)
            return Format(Tr("选项%s需要一个值"), name.c_str());
        if (what.find(": At Most ") != std::string::npos)
            return Format(Tr("选项%s只能给出一次"), name.c_str());
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
        std::string first = NameBefore(what, " excludes ");
        std::string second = what.substr(std::min(what.size(), first.size() + 10));
        if (DeclarationIndex(command, second) < DeclarationIndex(command, first)) std::swap(first, second);
        return Format(Tr("选项%s和%s不能同时给出"), first.c_str(), second.c_str());
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
        const std::size_t at = what.find(" is required");
        if (at != std::string::npos) return Format(Tr("缺少%s"), what.substr(0, at).c_str());
    }
    if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
        // CLI::IsMember: "action: lisst not in {list,retry,drop}".
        const std::size_t notIn = what.find(" not in {");
        const std::size_t nameEnd = what.find(": ");
        if (notIn != std::string::npos && nameEnd != std::string::npos && nameEnd < notIn)
            return Format(Tr("%s\"%s\"不是%s之一"), what.substr(0, nameEnd).c_str(),
                          what.substr(nameEnd + 2, notIn - nameEnd - 2).c_str(), what.substr(notIn + 8).c_str());
        const std::size_t colon = what.find(": ");
        if (colon != std::string::npos)
            return Format(Tr("选项%s%s"), what.substr(0, colon).c_str(), what.substr(colon + 2).c_str());
    }
    return what;
}

// What the parse left over: an option the command does not know, or an argument it takes none of.
std::string LeftOverText(const std::string& arg) {
    if (LooksLikeOption(arg)) return Format(Tr("未知的选项\"%s\""), arg.substr(0, arg.find('=')).c_str());
    return Format(Tr("多余的参数\"%s\""), arg.c_str());
}

// The command the parse chose: the App itself for a command parsed on its own.
const CLI::App& Chosen(const CLI::App& app) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    return chosen.empty() ? app : *chosen.front();
}

std::optional<int> Parse(CLI::App& app, const Args& args, bool isProgram) {
    const Prepared prepared = Prepare(app, args, isProgram);
    if (!prepared.refusal.empty()) {
        Complain(prepared.command, prepared.refusal + Tr(kHelpHint));
        return kExitRefused;
    }
    try {
        app.parse(
            Args(prepared.args.rbegin(), prepared.args.rend()));  // CLI11 takes the arguments last first
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help() << std::flush;
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << std::endl;
        return 0;
    } catch (const CLI::ParseError& error) {
        const CLI::App& command = Chosen(app);
        Complain(command.get_name(), RefusalText(error, command) + Tr(kHelpHint));
        return kExitRefused;
    } catch (const Refusal& refusal) {
        Complain(Chosen(app).get_name(), refusal.what() + std::string(Tr(kHelpHint)));
        return kExitRefused;
    }

    const CLI::App& command = Chosen(app);
    if (isProgram && &command == &app) {
        const std::vector<std::string> rest = app.remaining();
        if (rest.empty()) {
            std::cerr << app.help() << std::flush;
        } else {
            Complain("", Format(Tr("未知的命令\"%s\"（--help列出命令）"), rest.front().c_str()));
        }
        return kExitRefused;
    }
    const std::vector<std::string> rest = command.remaining();
    if (!rest.empty()) {
        Complain(command.get_name(), LeftOverText(rest.front()) + Tr(kHelpHint));
        return kExitRefused;
    }
    return std::nullopt;
}

// The help's option column: names and the value's kind only. Which options exclude each other is said in
// their descriptions, which read better than CLI11's "Excludes:" lists.
class HelpFormatter : public CLI::Formatter {
public:
    // "Usage:" and the names of values (OPTIONS, COMMAND, FILE ...) stay as they are in every language.
    HelpFormatter() {
        label("SUBCOMMAND", "COMMAND");
        label("Positionals", Tr("参数"));
    }

    // The usage line first, as a program's help begins; then what the command does.
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub) return CLI::Formatter::make_help(app, std::move(name), mode);
        return make_usage(app, name) + make_description(app) + make_positionals(app) + make_groups(app, mode) +
               make_subcommands(app, mode) + "\n" + make_footer(app);
    }

    std::string make_option_opts(const CLI::Option* option) const override {
        // A positional's name is its value already ("FILE", not "FILE FILE").
        if (option->get_positional()) return {};
        if (option->get_type_size() == 0 || option->get_type_name().empty()) return {};
        return " " + option->get_type_name();
    }
};

}  // namespace

// What a validator says after the option's name: "needs WHAT, not "VALUE"".
std::string NeedsText(const std::string& needs, const std::string& value) {
    return Format(Tr("需要%s，而不是\"%s\""), needs.c_str(), value.c_str());
}

void RefuseValue(const std::string& option, const std::string& needs, const std::string& value) {
    throw Refusal(Format(Tr("选项%s需要%s，而不是\"%s\""), option.c_str(), needs.c_str(), value.c_str()));
}

CLI::Validator WholeNumber(uint32_t min, uint32_t max, std::string needs) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const std::optional<uint32_t> value = ParseUnsignedDecimal(text);
            if (!value || *value < min || *value > max) return NeedsText(needs, text);
            text = std::to_string(*value);
            return {};
        },
        std::string());
}

CLI::Validator OneOf(std::vector<uint32_t> allowed, std::string needs) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const std::optional<uint32_t> value = ParseUnsignedDecimal(text);
            if (!value || std::find(allowed.begin(), allowed.end(), *value) == allowed.end())
                return NeedsText(needs, text);
            text = std::to_string(*value);
            return {};
        },
        std::string());
}

void Complain(std::string_view command, const std::string& text) {
    if (command.empty()) {
        std::fprintf(stderr, "voxletter-cli: %s\n", text.c_str());
    } else {
        std::fprintf(stderr, "voxletter-cli %.*s: %s\n", static_cast<int>(command.size()), command.data(),
                     text.c_str());
    }
}

// CLI11's own words in the help, in the user's language: the -h,--help line and the group of options
// that have none of their own.
void SpeakUserLanguage(CLI::App& app) {
    app.option_defaults()->group(Tr("选项"));
    app.set_help_flag("-h,--help", Tr("显示本帮助并退出"));
}

void ApplyRules(CLI::App& app) {
    SpeakUserLanguage(app);
    // Left-over arguments are refused after the parse, in the words of the other refusals.
    app.allow_extras();
    app.formatter(std::make_shared<HelpFormatter>());
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::Throw)->disable_flag_override();
}

std::optional<int> ParseCommand(CLI::App& command, const Args& args) {
    return Parse(command, args, false);
}

CommandLine::CommandLine(const char* description) : m_app(Tr(description), "voxletter-cli") {
    SpeakUserLanguage(m_app);
    m_app.allow_extras();
    m_app.formatter(std::make_shared<HelpFormatter>());
    m_app.set_version_flag("--version", std::string("voxletter-cli ") + kVersion, Tr("显示版本并退出"));
    m_app.require_subcommand(0, 1);  // a second command name is an argument of the first, and refused
    m_app.footer(Tr("voxletter-cli COMMAND --help 列出一个命令的选项。"));
}

CLI::App& CommandLine::AddCommand(const std::string& name, const char* description, Action action) {
    CLI::App* command = m_app.add_subcommand(name, Tr(description));
    command->group(Tr("命令"));
    ApplyRules(*command);
    m_actions.emplace_back(command, std::move(action));
    return *command;
}

int CommandLine::Run(int argc, const char* const* argv) {
    const Args args(argv + 1, argv + argc);
    if (const std::optional<int> stop = Parse(m_app, args, true)) return *stop;
    const CLI::App& chosen = Chosen(m_app);
    for (const auto& [command, action] : m_actions) {
        if (command == &chosen) return action();
    }
    return kExitRefused;
}

}  // namespace vox::cli
