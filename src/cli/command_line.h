#pragma once
// voxletter-cli's commands on top of CLI11, and the rules that every command follows:
//  - each option may be given once, unless it is declared repeatable;
//  - a value follows its option or is written --option=VALUE; a value that itself begins with "-" must be
//    written the second way, since "--to --cc x@y.z" is a left-out value, not an address "--cc";
//  - unknown options and stray arguments are refused, never ignored;
//  - every refusal is printed in one place, "voxletter-cli COMMAND: TEXT (--help lists the options)" on
//    standard error, with exit status 2; --help prints the command's generated help on standard output.
//
// A command adds its options on the CLI::App it gets from CommandLine::AddCommand. Option callbacks may
// throw Refusal; numbers are checked with WholeNumber or OneOf.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/translate.h"

namespace vox::cli {

// The arguments after the command's name.
using Args = std::vector<std::string>;

// Exit status when an option or a check refused the input.
inline constexpr int kExitRefused = 2;
// Exit status when the input was taken but the work failed: a file that went away during assembly, an
// output file that could not be written, a mail too large for memory, a recipient not delivered.
inline constexpr int kExitFailed = 1;

// A refusal worded for the user, thrown from an option's callback.
class Refusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws the usual refusal of a value: option NAME needs WHAT, not "VALUE". WHAT is in the user's
// language already (Tr).
[[noreturn]] void RefuseValue(const std::string& option, const std::string& needs, const std::string& value);

// A whole decimal number from min to max, read with ParseUnsignedDecimal; the option's text is rewritten
// to plain digits, so the number CLI11 stores is the one checked. needs, translated: "a whole number from
// 0 up".
CLI::Validator WholeNumber(uint32_t min, uint32_t max, std::string needs);
// The same for a number from a short list. needs: "8 or 16".
CLI::Validator OneOf(std::vector<uint32_t> allowed, std::string needs);

// "voxletter-cli COMMAND: TEXT" on standard error (no COMMAND: "voxletter-cli: TEXT").
void Complain(std::string_view command, const std::string& text);

// Gives a command's App the rules above. CommandLine::AddCommand does this; a test that builds a
// command's App on its own calls it.
void ApplyRules(CLI::App& app);

// Parses args into a command's App that has the rules. Nothing: go on and run the command. Otherwise the
// exit status, with the help or the refusal already printed.
std::optional<int> ParseCommand(CLI::App& command, const Args& args);

// The program: its commands, parsing, and running the chosen one.
class CommandLine {
public:
    // Runs once the command line has been parsed without refusal; returns the exit status.
    using Action = std::function<int()>;

    // description: the source text, translated here (mark it with N_).
    explicit CommandLine(const char* description);

    // A new command; add its options to the App returned. description: the source text, translated here
    // (mark it with N_).
    CLI::App& AddCommand(const std::string& name, const char* description, Action action);

    // Parses argv and runs the chosen command: the process exit status.
    int Run(int argc, const char* const* argv);

private:
    CLI::App m_app;
    std::vector<std::pair<const CLI::App*, Action>> m_actions;
};

}  // namespace vox::cli
