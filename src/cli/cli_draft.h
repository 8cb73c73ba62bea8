#pragma once
// What "compose" and "send" share: the FIELDS options turned into a draft exactly as the composer window
// would fill it, the same field check, and assembly on the calling thread. Every refusal is printed on
// standard error as "voxletter-cli COMMAND: text".

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cli/cli_commands.h"
#include "compose/assembly.h"
#include "compose/mail_draft.h"

namespace vox::cli {

// Exit status when an option or the field check refused the input.
inline constexpr int kExitRefused = 2;

// The FIELDS part of --help, shared by every command that takes them.
extern const char kFieldsHelp[];

// The command line after the command's name, parsed.
struct DraftRequest {
    MailDraft draft;  // the fields, the formats, background, sound and attachments; nothing checked yet
    std::string outputPath;  // -o FILE (only where allowed); empty: standard output
    bool help = false;       // --help: print the usage, do nothing else
};

// Parses FIELDS (and "-o FILE" when allowOutput). Unknown options, missing or malformed values, options
// given twice (all but --attach) and exclusive pairs given together are refused: the message goes to
// standard error and the result is empty. Paths become absolute; body line ends become CR LF.
std::optional<DraftRequest> ParseDraftArgs(const Args& args, bool allowOutput, std::string_view command);

// The composer's field check; a refusal prints its message (and the offending entry) on standard error.
// Also refuses a subject with a line break or NUL. True when the send may go ahead; the recipient list is
// then filled and m_nExpectedSteps set.
bool CheckDraft(MailDraft& draft, std::string_view command);

// Assembles draft.m_strMime on the calling thread. The failure texts of assembly go to standard error; the
// recording marker becomes ProgramFolder()/"Sound.wav". onStep, when given, is called after every step
// (m_nExpectedSteps calls in all).
void AssembleDraft(MailDraft& draft, std::string_view command, const std::function<void()>& onStep = {});

// All three in one. Returns the assembled draft (m_recipients and m_strMime filled), or nothing with
// exitCode set: 0 after --help (the usage went to standard output), kExitRefused after a refusal.
// outputPath: where -o is allowed, receives its value (empty: standard output); null: -o is refused.
std::optional<MailDraft> PrepareDraft(const Args& args, std::string* outputPath, int& exitCode,
                                      std::string_view command);

}  // namespace vox::cli
