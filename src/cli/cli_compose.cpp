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
            Complain("compose", Format(Tr("无法写入标准输出：%s"), std::strerror(errno)));
            return kExitFailed;
        }
        return 0;
    }
    // Whole or not at all: a full disk leaves the old file (or none), never a truncated mail.
    const std::string error = WriteWholeFile(outputPath, draft.m_strMime);
    if (!error.empty()) {
        Complain("compose", Format(Tr("无法写入\"%s\"：%s"), outputPath.c_str(), error.c_str()));
        return kExitFailed;
    }
    return 0;
}

}  // namespace

void AddComposeCommand(CommandLine& cli) {
    auto req = std::make_shared<DraftRequest>();
    CLI::App& command = cli.AddCommand("compose", N_("生成写信窗口所发送的邮件并把它写出。"),
                                       [req] { return RunCompose(*req); });
    AddDraftOptions(command, *req, true);
    command.footer(
        std::string(Tr(kDraftRulesNote)) +
        Tr("把邮件（MIME，CR LF行尾）写入FILE或标准输出。\n"
           "退出状态：0 已写出；1 无法完整生成邮件（其间有文件不见了，或内存不足）或无法写出；\n"
           "2 选项或字段检查拒绝了输入（原因见标准错误）。"));
}

}  // namespace vox::cli
