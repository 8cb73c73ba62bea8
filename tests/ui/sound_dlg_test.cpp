// The recording window and the sound selection window on a scripted sound device, and the composer's
// Sound command, under Qt's offscreen platform.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "app/composer_dlg.h"
#include "scripted_wave_device.h"
#include "sound/add_sound_dlg.h"
#include "sound/record_dlg.h"
#include "sound/sound_player.h"
#include "voice/voice_settings.h"
#include "modal_answer.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::FileChooserScript;
using vox::test::MessageRecorder;
using vox::test::OnNextModal;
using vox::test::ReadAll;
using vox::testing::ScriptedWaveDevice;
namespace fs = std::filesystem;

namespace {

// A recording window on a scripted device, with its files in a folder of the test's own.
struct RecordWindow {
    QTemporaryDir dir;
    ScriptedWaveDevice* dev = nullptr;
    std::unique_ptr<CRecordDlg> dlg;

    RecordWindow() {
        auto device = std::make_unique<ScriptedWaveDevice>();
        dev = device.get();
        auto rec = std::make_unique<CWaveRecorder>(std::move(device));
        rec->SetTempFolder(dir.path().toStdString());
        dlg = std::make_unique<CRecordDlg>(std::move(rec));
        dlg->SetSoundPath(SoundPath());
        dlg->show();
    }
    fs::path SoundPath() const { return fs::path(dir.path().toStdString()) / "Sound.wav"; }
    void Settle() {
        dev->WaitIdle();
        QCoreApplication::processEvents();
    }
    void Choose(int id) { qobject_cast<QRadioButton*>(dlg->Control(id))->setChecked(true); }
    void SetLength(const QString& text) { qobject_cast<QLineEdit*>(dlg->Control(1015))->setText(text); }
    // Record, Stop, Play, Attach, Advanced enabled; playback bar shown.
    QString Buttons() const {
        QString s;
        for (int id : {1016, 1021, 1022, 1, 3}) s += dlg->Control(id)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        s += dlg->PlayBar()->isVisible() ? QLatin1Char('1') : QLatin1Char('0');
        return s;
    }
};

}  // namespace

class SoundDlgTest : public QObject {
    Q_OBJECT

private slots:
    // The sends here go nowhere: the sender domain's DMARC policy is not asked of the network.
    void initTestCase() {
        vox::SetDmarcLookupFunction([](const std::string&) { return std::optional<vox::DmarcPolicy>(); });
    }
    void recordEnablingAfterEveryEvent();
    void recordFormatsScalesAndSizeLine();
    void recordAdvancedAndLengthMessages();
    void recordCloseWhileBusyIgnoresLaterReports();
    void recordMendedFaults();
    void addSoundEdgeCases();
    void composerStoresTheChoiceAndReopensOnAMissingFile();
    void voiceFormatIsRememberedBetweenRuns();
    void listenPlaysEveryFormat();
};

void SoundDlgTest::recordEnablingAfterEveryEvent() {
    MessageRecorder boxes;
    RecordWindow w;
    QCOMPARE(w.Buttons(), QStringLiteral("100010"));
    QCOMPARE(w.dlg->size(), QSize(284, 135));
    QCOMPARE(qobject_cast<QLineEdit*>(w.dlg->Control(1015))->text(), QStringLiteral("10"));

    // Each step: what it does, then Record/Stop/Play/Attach/Advanced/playback bar.
    struct Step {
        const char* what;
        std::function<void()> act;
        const char* buttons;
    };
    const Step steps[] = {
        {"record", [&] { w.dlg->OnRecord(); }, "010000"},
        {"three blocks", [&] { w.dev->CaptureBlocks(3); }, "010000"},
        {"stop recording", [&] { w.dlg->OnStop(); }, "101100"},
        {"play", [&] { w.dev->HoldOutput(true); w.dlg->OnPlay(); }, "010001"},
        {"stop playing", [&] { w.dlg->OnStop(); }, "101100"},
        {"stop while idle", [&] { w.dlg->OnStop(); }, "101100"},
        {"play to the end", [&] { w.dev->HoldOutput(false); w.dlg->OnPlay(); }, "101100"},
        {"record again", [&] { w.SetLength(QStringLiteral("x")); w.dlg->OnRecord(); }, "010000"},
        {"to the limit", [&] { w.dev->CaptureBlocks(ScriptedWaveDevice::kUnlimited); }, "001100"},
    };
    for (const Step& step : steps) {
        step.act();
        w.Settle();
        QVERIFY2(w.Buttons() == QLatin1String(step.buttons),
                 qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(step.what), w.Buttons())));
        if (QLatin1String(step.what) == QLatin1String("three blocks")) {
            QCOMPARE(w.dlg->RecordBar()->value(), 12);
            QCOMPARE(w.dlg->SizeLine()->text(), QStringLiteral("录音内容当前大小1KB"));
            QVERIFY(w.dlg->LevelMeter()->value() > 0);
        }
        if (QLatin1String(step.what) == QLatin1String("record again")) {
            // The second press continues: no re-read of the controls, the bar restarts at 0.
            QCOMPARE(w.dlg->RecordBar()->value(), 0);
            QVERIFY(boxes.messages.empty());
        }
    }
    QCOMPARE(w.dlg->RecordBar()->value(), 800);
    QCOMPARE(w.dlg->SizeLine()->text(), QStringLiteral("录音内容当前大小78KB"));
    QCOMPARE(w.dlg->Recorder().GetRecordedBytes(), 80000);

    // Attach writes the whole recording and ends with IDOK once the length reads again.
    w.dlg->accept();
    QCOMPARE(w.dlg->result(), int(QDialog::Rejected));
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    w.SetLength(QStringLiteral("10"));
    w.dlg->accept();
    QCOMPARE(w.dlg->result(), int(QDialog::Accepted));
    QCOMPARE(ReadAll(w.SoundPath()).size(), std::size_t{80046});
}

void SoundDlgTest::recordFormatsScalesAndSizeLine() {
    struct Case {
        int rate, bits, channels;
        const char* seconds;
        int32_t limit;
        int scale, range;
        const char* lastLine;
        bool recordStaysEnabled;
    };
    const Case cases[] = {
        {1026, 1017, 1019, "10", 80000, 100, 800, "录音内容当前大小78KB", false},
        {1029, 1018, 1025, "10", 1764000, 10000, 176, "录音内容当前大小1.68MB", false},
        {1027, 1017, 1019, "0", 0, 1, 1, "录音内容当前大小0KB", false},  // one block of 551 bytes
    };
    for (const Case& c : cases) {
        RecordWindow w;
        w.Choose(c.rate);
        w.Choose(c.bits);
        w.Choose(c.channels);
        w.SetLength(QString::fromLatin1(c.seconds));
        w.dlg->OnRecord();
        QCOMPARE(w.dlg->Recorder().GetMaxBytes(), c.limit);
        QCOMPARE(w.dlg->Scale(), c.scale);
        QCOMPARE(w.dlg->RecordBar()->maximum(), c.range);
        if (c.limit == 1764000) {
            w.dlg->OnWaveProgress(1048576, 0);
            QCOMPARE(w.dlg->SizeLine()->text(), QStringLiteral("录音内容当前大小1024KB"));
            w.dlg->OnWaveProgress(1048577, 0);
            QCOMPARE(w.dlg->SizeLine()->text(), QStringLiteral("录音内容当前大小1.00MB"));
        }
        w.dev->CaptureBlocks(ScriptedWaveDevice::kUnlimited);
        w.Settle();
        QCOMPARE(w.dlg->SizeLine()->text(), QString::fromUtf8(c.lastLine));
        QCOMPARE(w.dlg->Control(1016)->isEnabled(), c.recordStaysEnabled);
        QCOMPARE(w.dlg->State(), 0);
        QCOMPARE(w.dlg->RecordBar()->value(), c.range);
    }
}

void SoundDlgTest::recordAdvancedAndLengthMessages() {
    MessageRecorder boxes;
    RecordWindow w;
    auto* advanced = qobject_cast<QPushButton*>(w.dlg->Control(3));
    w.dlg->OnAdvanced();
    QCOMPARE(w.dlg->size(), QSize(284, 290));
    QCOMPARE(advanced->text(), QStringLiteral("高级<<"));
    w.dlg->OnAdvanced();
    QCOMPARE(w.dlg->size(), QSize(284, 135));
    QCOMPARE(advanced->text(), QStringLiteral("高级>>"));

    // Lengths the window refuses before anything opens, then one it takes while expanded.
    struct Case {
        const char* length;
        const char* message;
    };
    const Case cases[] = {
        {"ten", "“请填入一个正整数。”"},
        {"-1", "“请填入一个正整数。”"},
        {"3044", "录音长度太长：在此格式下最多可录3043秒。"},  // the byte limit would wrap in 32 bits
    };
    w.Choose(1029);
    w.Choose(1018);
    w.Choose(1025);
    w.dlg->OnAdvanced();
    for (const Case& c : cases) {
        boxes.messages.clear();
        w.SetLength(QString::fromLatin1(c.length));
        w.dlg->OnRecord();
        QCOMPARE(boxes.messages.size(), std::size_t{1});
        QCOMPARE(boxes.messages[0].text, QString::fromUtf8(c.message));
        QCOMPARE(w.dlg->State(), 0);
        QVERIFY(w.dev->Calls().empty() || w.dev->Calls().back() != "OpenInput");
    }
    w.SetLength(QStringLiteral(" 3043 "));
    w.dlg->OnRecord();
    QCOMPARE(w.dlg->State(), 1);
    QCOMPARE(w.dlg->Recorder().GetMaxBytes(), 536785200);
    QCOMPARE(w.dlg->size(), QSize(284, 135));
    QVERIFY(!advanced->isEnabled());
    QCOMPARE(advanced->text(), QStringLiteral("高级<<"));
}

void SoundDlgTest::recordCloseWhileBusyIgnoresLaterReports() {
    for (bool playing : {false, true}) {
        RecordWindow w;
        std::ofstream(w.SoundPath()) << "earlier";
        w.dlg->OnRecord();
        w.dev->CaptureBlocks(4);
        w.Settle();
        if (playing) {
            w.dlg->OnStop();
            w.dev->HoldOutput(true);
            w.dlg->OnPlay();
            w.dev->CompleteOutput(1);
            w.dev->WaitIdle();  // its report is queued, not yet taken
        }
        const int recordBar = w.dlg->RecordBar()->value();
        QTest::keyClick(w.dlg.get(), Qt::Key_Escape);
        QCOMPARE(w.dlg->result(), int(QDialog::Rejected));
        w.dev->CaptureBlocks(10);
        w.dev->CompleteOutput(10);
        w.Settle();
        QCOMPARE(w.dlg->RecordBar()->value(), recordBar);
        QCOMPARE(w.dlg->PlayBar()->value(), 0);
        QCOMPARE(ReadAll(w.SoundPath()), std::string("earlier"));
    }
}

void SoundDlgTest::recordMendedFaults() {
    MessageRecorder boxes;
    {
        // A failed Open is tried again by the next press.
        RecordWindow w;
        w.dev->FailCall("OpenInput", 7, 0);
        w.dlg->OnRecord();
        w.dlg->OnRecord();
        const auto calls = w.dev->Calls();
        QCOMPARE(std::count(calls.begin(), calls.end(), std::string("OpenInput")), 2);
        QCOMPARE(std::count(calls.begin(), calls.end(), std::string("StartInput")), 0);
        QCOMPARE(boxes.messages.size(), std::size_t{2});
        QVERIFY(boxes.messages[0].icon == MessageIcon::Stop);
        QCOMPARE(w.Buttons(), QStringLiteral("100010"));
    }
    {
        // A save that fails is reported; the window and the recording stay.
        boxes.messages.clear();
        RecordWindow w;
        w.dlg->SetSoundPath(w.SoundPath().parent_path() / "missing" / "Sound.wav");
        w.dlg->OnRecord();
        w.dev->CaptureBlocks(2);
        w.Settle();
        w.dlg->OnStop();
        w.dlg->accept();
        QCOMPARE(boxes.messages.size(), std::size_t{1});
        QVERIFY(boxes.messages[0].text.startsWith(QStringLiteral("无法保存录音文件")));
        QVERIFY(w.dlg->isVisible());
        w.dlg->SetSoundPath(w.SoundPath());
        w.dlg->accept();
        QCOMPARE(w.dlg->result(), int(QDialog::Accepted));
        QCOMPARE(ReadAll(w.SoundPath()).size(), std::size_t{46 + 800});
    }
}

void SoundDlgTest::addSoundEdgeCases() {
    MessageRecorder boxes;
    FileChooserScript chooser;
    QString filter;
    SetFileChooserFunction([&](QWidget*, const QString&, const QString& f, bool many) {
        filter = f;
        return many ? QStringList() : QStringList{QStringLiteral("/music/歌.mid")};
    });

    // Start values, actions, then OK: the accepted answer ("" when the window stays open), "+"/"-".
    struct Case {
        const char* name;
        std::string sound;
        uint32_t count;
        std::function<void(CAddSoundDlg&)> act;
        bool accepted;
        std::string wantSound;
        uint32_t wantCount;
    };
    auto count = [](CAddSoundDlg& d, const char* text) { qobject_cast<QLineEdit*>(d.Control(1019))->setText(QString::fromUtf8(text)); };
    auto click = [](CAddSoundDlg& d, int id) { qobject_cast<QAbstractButton*>(d.Control(id))->click(); };
    const Case cases[] = {
        {"counted 3", "", 3, [](CAddSoundDlg&) {}, true, "", 3},
        {"counted 0 is endless", "", 3, [&](CAddSoundDlg& d) { count(d, "0"); }, true, "", 0},
        {"endless ignores the count", "", 3, [&](CAddSoundDlg& d) { click(d, 1017); count(d, "5"); }, true, "", 0},
        {"counted and empty", "", 3, [&](CAddSoundDlg& d) { count(d, ""); }, false, "", 0},
        {"emptied, then endless", "", 3, [&](CAddSoundDlg& d) { count(d, ""); click(d, 1017); }, false, "", 0},
        {"minus", "/a.wav", 0, [&](CAddSoundDlg& d) { click(d, 1013); }, true, "", 0},
        {"plus", "", 0, [&](CAddSoundDlg& d) { click(d, 1012); }, true, "/music/歌.mid", 0},
        {"record over a file", "/a.wav", 0,
         [&](CAddSoundDlg& d) {
             OnNextModal<CRecordDlg>([](CRecordDlg& r) { r.done(QDialog::Accepted); });
             click(d, 1016);
         },
         true, "<录音>", 0},
        {"record cancelled", "/a.wav", 0,
         [&](CAddSoundDlg& d) {
             OnNextModal<CRecordDlg>([](CRecordDlg& r) { r.reject(); });
             click(d, 1016);
         },
         true, "/a.wav", 0},
    };
    for (const Case& c : cases) {
        boxes.messages.clear();
        CAddSoundDlg dlg(c.sound, c.count);
        dlg.show();
        QCOMPARE(dlg.Control(1019)->isEnabled(), c.count > 0);
        QCOMPARE(qobject_cast<QRadioButton*>(dlg.Control(c.count > 0 ? 1018 : 1017))->isChecked(), true);
        QCOMPARE(qobject_cast<QLineEdit*>(dlg.Control(1019))->text(), QString::number(c.count));
        c.act(dlg);
        const bool minus = !qobject_cast<QLineEdit*>(dlg.Control(1015))->text().isEmpty();
        QVERIFY2(dlg.Control(1013)->isEnabled() == minus && dlg.Control(1012)->isEnabled() == !minus, c.name);
        dlg.accept();
        QVERIFY2((dlg.result() == QDialog::Accepted) == c.accepted, c.name);
        if (!c.accepted) {
            QCOMPARE(boxes.messages.size(), std::size_t{1});
            QCOMPARE(boxes.messages[0].text, QStringLiteral("“请填入一个正整数。”"));
            continue;
        }
        QCOMPARE(dlg.Sound(), c.wantSound);
        QCOMPARE(dlg.RepeatCount(), c.wantCount);
    }
    QCOMPARE(filter, QStringLiteral("MIDI Files (*.mid);;wave Files (*.wav);;Audio Files (*.au);;Sound Files (*.snd);;"
                                    "RAM Files (*.ram,*.ra) (*.ram *.ra);;"
                                    "AIF Files(*.aif,*.aifc,*.aiff) (*.aif *.aifc *.aiff);;All Files (*.*)"));
}

void SoundDlgTest::composerStoresTheChoiceAndReopensOnAMissingFile() {
    MessageRecorder boxes;
    CComposerDlg composer;
    composer.show();

    OnNextModal<CAddSoundDlg>([](CAddSoundDlg& d) {
        qobject_cast<QAbstractButton*>(d.Control(1018))->click();
        qobject_cast<QLineEdit*>(d.Control(1019))->setText(QStringLiteral("3"));
        d.accept();
    });
    composer.OnSound();
    QCOMPARE(composer.Draft().m_nSoundLoops, 3);

    OnNextModal<CAddSoundDlg>([](CAddSoundDlg& d) {
        qobject_cast<QAbstractButton*>(d.Control(1017))->click();
        d.reject();
    });
    composer.OnSound();
    QCOMPARE(composer.Draft().m_nSoundLoops, 3);

    // Send with a sound file that is gone: the message, then the sound window shows it; no send.
    composer.Draft().m_strSound = "/no/such/sound.wav";
    composer.Field(1000)->setText(QStringLiteral("me@example.cn"));
    composer.Field(1001)->setText(QStringLiteral("you@example.com"));
    QString shown;
    OnNextModal<CAddSoundDlg>([&](CAddSoundDlg& d) {
        shown = qobject_cast<QLineEdit*>(d.Control(1015))->text();
        qobject_cast<QAbstractButton*>(d.Control(1013))->click();
        d.accept();
    });
    composer.OnSend();
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("无法访问到声音文件"));
    QCOMPARE(shown, QStringLiteral("/no/such/sound.wav"));
    QCOMPARE(composer.Draft().m_strSound, std::string());
    QVERIFY(!composer.IsSending());
}

// The voice's form chosen in the sound window holds for the draft and for the next run; Cancel keeps the
// old choice.
void SoundDlgTest::voiceFormatIsRememberedBetweenRuns() {
    MessageRecorder boxes;
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    auto choose = [](int format, bool normalize, bool ok) {
        OnNextModal<CAddSoundDlg>([=](CAddSoundDlg& d) {
            qobject_cast<QComboBox*>(d.Control(1044))->setCurrentIndex(format);
            qobject_cast<QCheckBox*>(d.Control(1045))->setChecked(normalize);
            if (ok) d.accept(); else d.reject();
        });
    };
    {
        CComposerDlg composer;
        QCOMPARE(composer.Draft().m_voice.format, VoiceFormat::Wav);
        QCOMPARE(composer.Draft().m_voice.normalize, false);
        choose(1, true, true);
        composer.OnSound();
        QCOMPARE(composer.Draft().m_voice.format, VoiceFormat::Opus);
        QCOMPARE(composer.Draft().m_voice.normalize, true);
        choose(2, false, false);
        composer.OnSound();
        QCOMPARE(composer.Draft().m_voice.format, VoiceFormat::Opus);
    }
    {
        CComposerDlg composer;
        QCOMPARE(composer.Draft().m_voice.format, VoiceFormat::Opus);
        QCOMPARE(composer.Draft().m_voice.normalize, true);
        QString shownFormat;
        OnNextModal<CAddSoundDlg>([&](CAddSoundDlg& d) {
            shownFormat = qobject_cast<QComboBox*>(d.Control(1044))->currentText();
            qobject_cast<QComboBox*>(d.Control(1044))->setCurrentIndex(2);
            d.accept();
        });
        composer.OnSound();
        QCOMPARE(shownFormat, QStringLiteral("Opus"));
    }
    QCOMPARE(LoadVoiceSettings().format, VoiceFormat::Mp3);
    QVERIFY(boxes.messages.empty());
    qputenv("XDG_CONFIG_HOME", previous);
}

// 试听 plays the chosen sound whatever its format, all of it, at its own rate; pressed again it stops.
void SoundDlgTest::listenPlaysEveryFormat() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    const std::string wav = dir.filePath(QStringLiteral("tone.wav")).toStdString();
    const std::string opus = dir.filePath(QStringLiteral("tone.opus")).toStdString();
    const std::string mp3 = dir.filePath(QStringLiteral("tone.mp3")).toStdString();
    QCOMPARE(std::system(("sox -n -r 22050 -c 1 -b 16 '" + wav + "' synth 1 sine 440").c_str()), 0);
    if (std::system(("opusenc --quiet '" + wav + "' '" + opus + "' && lame --quiet '" + wav + "' '" + mp3 + "'").c_str()) != 0)
        QSKIP("opusenc or lame is missing (Debian opus-tools, lame)");
    struct Case {
        std::string path;
        uint32_t rate;
    } cases[] = {{wav, 22050}, {opus, 24000}, {mp3, 22050}};  // Opus decodes at its rate nearest the original
    for (const Case& c : cases) {
        vox::testing::ScriptedWaveDevice* dev = nullptr;
        CAddSoundDlg dlg(c.path, 0);
        dlg.SetPlayerFactory([&] {
            auto device = std::make_unique<vox::testing::ScriptedWaveDevice>();
            dev = device.get();
            dev->HoldOutput(true);
            return std::make_unique<CSoundPlayer>(std::move(device));
        });
        dlg.show();
        auto* listen = qobject_cast<QPushButton*>(dlg.Control(1046));
        QCOMPARE(listen->text(), QStringLiteral("试听"));
        listen->click();
        QVERIFY(dev != nullptr);
        QCOMPARE(listen->text(), QStringLiteral("停止"));
        listen->click();  // stop before the end
        QCOMPARE(listen->text(), QStringLiteral("试听"));
        dev->HoldOutput(false);
        listen->click();  // and all of it
        QTRY_COMPARE_WITH_TIMEOUT(listen->text(), QStringLiteral("试听"), 5000);
        dev->WaitIdle();
        const double seconds = static_cast<double>(dev->Played().size()) / (2.0 * c.rate);
        QVERIFY2(seconds > 0.98 && seconds < 1.1, qPrintable(QString::fromStdString(c.path) + " " + QString::number(seconds)));
        QVERIFY(boxes.messages.empty());
    }
    // Nothing chosen: nothing to listen to. A file that is no sound: the reason.
    CAddSoundDlg none("", 0);
    QVERIFY(!none.Control(1046)->isEnabled());
    const std::string text = dir.filePath(QStringLiteral("note.wav")).toStdString();
    std::ofstream(text) << "not a sound";
    CAddSoundDlg bad(text, 0);
    bad.SetPlayerFactory([] { return std::make_unique<CSoundPlayer>(std::make_unique<vox::testing::ScriptedWaveDevice>()); });
    qobject_cast<QPushButton*>(bad.Control(1046))->click();
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QVERIFY(boxes.messages[0].text.startsWith(QStringLiteral("无法试听：")));
}

QTEST_MAIN(SoundDlgTest)
#include "sound_dlg_test.moc"
