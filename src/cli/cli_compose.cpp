#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_draft.h"

namespace vox::cli {
namespace {

bool WriteAll(std::FILE* f, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
}

}  // namespace

int RunCompose(const Args& args) {
    std::string outputPath;
    int exitCode = 0;
    std::optional<MailDraft> draft = PrepareDraft(args, &outputPath, exitCode, "compose");
    if (!draft) return exitCode;

    if (outputPath.empty()) {
        if (!WriteAll(stdout, draft->m_strMime)) {
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
    const bool written = WriteAll(f, draft->m_strMime);
    const int saved = errno;
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "voxletter-cli compose: cannot write \"%s\": %s\n", outputPath.c_str(),
                     std::strerror(written ? errno : saved));
        return kExitRefused;
    }
    return 0;
}

}  // namespace vox::cli
