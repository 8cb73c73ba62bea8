#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/cli_commands.h"
#include "base/whole_file.h"
#include "cli/cli_draft.h"

namespace vox::cli {
namespace {

bool WriteAll(std::FILE* f, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
}

int RunCompose(DraftRequest& req) {
    MailDraft& draft = req.draft;
    if (!CheckDraft(draft, "compose")) return kExitRefused;
    if (!AssembleDraft(draft, "compose")) return kExitFailed;

    const std::string& outputPath = req.outputPath;
    if (outputPath.empty()) {
        if (!WriteAll(stdout, draft.m_strMime)) {
            std::fprintf(stderr, "voxletter-cli compose: cannot write to standard output: %s\n",
                         std::strerror(errno));
            return kExitFailed;
        }
        return 0;
    }
    // Whole or not at all: a full disk leaves the old file (or none), never a truncated mail.
    const std::string error = WriteWholeFile(outputPath, draft.m_strMime);
    if (!error.empty()) {
        std::fprintf(stderr, "voxletter-cli compose: cannot write \"%s\": %s\n", outputPath.c_str(), error.c_str());
        return kExitFailed;
    }
    return 0;
}

}  // namespace

void AddComposeCommand(CommandLine& cli) {
    auto req = std::make_shared<DraftRequest>();
    CLI::App& command = cli.AddCommand("compose", "Build the mail the composer sends and write it out.",
                                       [req] { return RunCompose(*req); });
    AddDraftOptions(command, *req, true);
    command.footer(
        std::string(kDraftRulesNote) +
        "Writes the mail (MIME, CR LF line ends) to FILE or to standard output.\n"
        "Exit status: 0 written; 1 the mail could not be built whole (a file went away meanwhile, too little\n"
        "memory) or not written; 2 an option or the field check refused the input (the reason is on\n"
        "standard error).");
}

}  // namespace vox::cli
