#pragma once
// Every window of the composer, each as a test walks it: made with sample arguments, the recording window
// with its advanced area open. Shared by the screen and the language tests.

#include <QApplication>
#include <QColor>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/about_dlg.h"
#include "app/composer_dlg.h"
#include "delivery/sending_dlg.h"
#include "dialogs/align_dlg.h"
#include "dialogs/background_dlg.h"
#include "dialogs/font_dlg.h"
#include "scripted_wave_device.h"
#include "sound/add_sound_dlg.h"
#include "sound/record_dlg.h"

namespace vox::test {

struct NamedWindow {
    const char* name;
    std::function<std::unique_ptr<QWidget>()> make;
};

// The recording window on the scripted device, at its larger size with every control of the template showing.
inline std::unique_ptr<CRecordDlg> MakeAdvancedRecordDlg() {
    auto recorder = std::make_unique<CWaveRecorder>(std::make_unique<vox::testing::ScriptedWaveDevice>());
    auto dlg = std::make_unique<CRecordDlg>(std::move(recorder));
    dlg->OnAdvanced();
    return dlg;
}

inline std::vector<NamedWindow> EveryWindow() {
    return {
        {"composer", [] { return std::make_unique<CComposerDlg>(); }},
        {"sound", [] { return std::make_unique<CAddSoundDlg>(std::string(), 0u); }},
        {"record", [] { return MakeAdvancedRecordDlg(); }},
        {"background", [] { return std::make_unique<CBackgroundDlg>(0, 0xFFFFFF, QString()); }},
        {"format", [] { return std::make_unique<CAlignDlg>(0); }},
        {"font", [] { return std::make_unique<CFontDlg>(QApplication::font(), QColor(Qt::black)); }},
        {"sending",
         [] {
             // Its work runs until the window goes (an ended one would close the window at once).
             return std::make_unique<CSendingDlg>(2, 8, [](DeliveryObserver&, const std::atomic<bool>& cancel, FailureList&) {
                 while (!cancel) std::this_thread::sleep_for(std::chrono::milliseconds(2));
             });
         }},
        {"about", [] { return std::make_unique<CAboutDlg>(); }},
    };
}

}  // namespace vox::test
