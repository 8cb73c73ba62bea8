// voxletter-cli: compose, send and record without a window.

#include "base/translate.h"
#include "cli/cli_commands.h"
#ifdef VOX_CLI_PICTURE
#include "cli/cli_picture.h"
#endif

int main(int argc, char** argv) {
    vox::SetUpLanguage();
    vox::cli::CommandLine cli(
        N_("不开窗口完成写信窗口的工作：撰写邮件、发送邮件和录音。"));
    vox::cli::AddComposeCommand(cli);
    vox::cli::AddSendCommand(cli);
    vox::cli::AddOutboxCommand(cli);
    vox::cli::AddRecordCommand(cli);
    vox::cli::AddAccountCommand(cli);
#ifdef VOX_CLI_PICTURE
    // Built only with the picture library, the one part of this tool that needs Qt (QtGui).
    vox::cli::AddPictureCommand(cli);
#endif
    return cli.Run(argc, argv);
}
