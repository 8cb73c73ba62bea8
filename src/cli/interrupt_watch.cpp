#include "cli/interrupt_watch.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace vox::cli {
namespace {

std::atomic<bool> g_bRaised{false};
static_assert(std::atomic<bool>::is_always_lock_free);
const char* g_pszNote = nullptr;
std::size_t g_nNoteLength = 0;

struct Previous {
    int signal;
    struct sigaction action;
};
std::vector<Previous> g_previous;

extern "C" void OnInterrupt(int) {
    g_bRaised = true;
    if (g_pszNote != nullptr) (void)!::write(STDERR_FILENO, g_pszNote, g_nNoteLength);
}

}  // namespace

InterruptWatch::InterruptWatch(std::initializer_list<int> signals, const char* note) {
    g_bRaised = false;
    g_pszNote = note;
    g_nNoteLength = note != nullptr ? std::strlen(note) : 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signal : signals) {
        Previous previous{signal, {}};
        ::sigaction(signal, &action, &previous.action);
        g_previous.push_back(previous);
    }
}

InterruptWatch::~InterruptWatch() {
    for (const Previous& previous : g_previous) ::sigaction(previous.signal, &previous.action, nullptr);
    g_previous.clear();
}

std::atomic<bool>& InterruptWatch::Flag() {
    return g_bRaised;
}

bool InterruptWatch::Raised() const {
    return g_bRaised;
}

}  // namespace vox::cli
