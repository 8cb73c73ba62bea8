// voxletter: the composer window.
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QString>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/composer_app.h"
#include "app/start_up.h"
#include "base/translate.h"

namespace {

// Qt ends in qFatal, and so in a core dump, when the display that is named cannot be reached or no
// platform plugin loads. While the application object is being made, that end becomes the program's own
// line and exit status 1, and Qt's warnings of that time are held back: they are shown once Qt has
// started, and dropped with the fatal end, whose line says what happened.
class StartGuard {
public:
    StartGuard() { s_previous = qInstallMessageHandler(&StartGuard::Handle); }
    ~StartGuard() {
        qInstallMessageHandler(s_previous);
        for (const auto& [type, category, text] : s_held) {
            const QMessageLogContext context(nullptr, 0, nullptr, category.c_str());
            s_previous(type, context, text);
        }
        s_held.clear();
    }
    StartGuard(const StartGuard&) = delete;
    StartGuard& operator=(const StartGuard&) = delete;

private:
    struct Held {
        QtMsgType type;
        std::string category;
        QString text;
    };

    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtFatalMsg) {
            std::fputs(vox::NoDisplayText(), stderr);
            std::fflush(stdout);
            _exit(1);
        }
        s_held.push_back({type, context.category != nullptr ? context.category : "", text});
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline std::vector<Held> s_held;
};

// What --help and --version print; a write that fails (a full disk, a closed pipe) is exit status 1.
int Print(const std::string& text) {
    const bool written = std::fputs(text.c_str(), stdout) >= 0;
    return std::fflush(stdout) == 0 && written ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    vox::SetUpLanguage();
    switch (vox::ReadStartRequest(argc, argv)) {
    case vox::StartRequest::PrintHelp:
        return Print(vox::ComposerHelpText());
    case vox::StartRequest::PrintVersion:
        return Print(vox::ComposerVersionLine());
    case vox::StartRequest::OpenComposer:
        break;
    }
    if (!vox::HasDisplay(vox::ReadDisplayEnvironment(argc, argv))) {
        std::fputs(vox::NoDisplayText(), stderr);
        return 1;
    }

    std::optional<StartGuard> guard(std::in_place);
    QApplication app(argc, argv);
    vox::SetUpLanguage();  // QApplication has set the whole locale from the environment again
    guard.reset();
    vox::CComposerApp composer;
    if (!composer.InitInstance()) return 0;
    return QApplication::exec();
}
