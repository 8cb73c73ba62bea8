#pragma once
// What "compose" and "send" share: the FIELDS options, which fill a draft exactly as the composer window
// would, the same field check, and assembly on the calling thread.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "compose/assembly.h"
#include "compose/mail_draft.h"

namespace vox::cli {

// The command line after the command's name, parsed.
struct DraftRequest {
    MailDraft draft;  // the fields, the formats, background, sound and attachments; nothing checked yet
    std::string outputPath;  // -o FILE (only where allowed); empty: standard output
};

// What the help of a command with FIELDS says about them (the source text: pass it through Tr).
extern const char kDraftRulesNote[];

// Declares FIELDS on a command (and "-o FILE" when allowOutput); the parse fills req, which must outlive
// the command. Malformed values are refused; paths become absolute; body line ends become CR LF.
void AddDraftOptions(CLI::App& command, DraftRequest& req, bool allowOutput);

// The FIELDS of one command line on their own (the command's name is only for messages). Nothing after a
// refusal (printed on standard error) or after --help (printed on standard output).
std::optional<DraftRequest> ParseDraftArgs(const Args& args, bool allowOutput, std::string_view command);

// The composer's field check; a refusal prints its message (and the offending entry) on standard error.
// Also refuses a subject with a line break or NUL. True when the send may go ahead; the recipient list is
// then filled and m_nExpectedSteps set.
bool CheckDraft(MailDraft& draft, std::string_view command);

// Assembles draft.m_strMime on the calling thread. The failure texts of assembly go to standard error; the
// recording marker becomes ProgramFolder()/"Sound.wav". onStep, when given, is called after every step
// (m_nExpectedSteps calls in all). False when a part could not be written (a file that went away or
// changed after the check): the mail is then incomplete and is neither written out nor sent.
bool AssembleDraft(MailDraft& draft, std::string_view command, const std::function<void()>& onStep = {});

}  // namespace vox::cli
