#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_draft.h"

namespace vox::cli {
namespace {

bool WriteAll(std::FILE* f, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
}

int RunCompose(DraftRequest& req) {
    MailDraft& draft = req.draft;
    if (!CheckDraft(draft, "compose")) return kExitRefused;
    AssembleDraft(draft, "compose");

    const std::string& outputPath = req.outputPath;
    if (outputPath.empty()) {
        if (!WriteAll(stdout, draft.m_strMime)) {
            std::fprintf(stderr, "voxletter-cli compose: cannot write to standard output: %s\n",
                         std::strerror(errno));
            return kExitRefused;
        }
        return 0;
    }
    std::FILE* f = std::fopen(outputPath.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "voxletter-cli compose: cannot write \"%s\": %s\n", outputPath.c_str(),
                     std::strerror(errno));
        return kExitRefused;
    }
    const bool written = WriteAll(f, draft.m_strMime);
    const int saved = errno;
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "voxletter-cli compose: cannot write \"%s\": %s\n", outputPath.c_str(),
                     std::strerror(written ? errno : saved));
        return kExitRefused;
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
        "Exit status: 0 written; 2 an option or the field check refused the input (the reason is on\n"
        "standard error).");
}

}  // namespace vox::cli
