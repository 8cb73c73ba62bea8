// The whole voice mail from the composer: 声音 → 录音 → Record → Attach → OK → Send. Speech is played into
// a private sound server (tests/harness/sound) and recorded by the real recording window through
// PortAudio; the mail goes through real DNS and SMTP servers in a network namespace of the test's own
// (tests/harness/net), and the sound part that arrives must decode to the bytes of "Sound.wav".

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "app/composer_dlg.h"
#include "net_world.h"
#include "pulse_server.h"
#include "sound/add_sound_dlg.h"
#include "base/program_folder.h"
#include "sound/record_dlg.h"
#include "modal_answer.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::MessageRecorder;
using vox::test::OnNextModal;
using vox::test::ReadAll;
using vox::test::NetWorld;
using vox::testing::PulseServer;

// PortAudio's terminate has ALSA unload the pulse plugin; keeping it loaded lets leak reports name it.
extern "C" int dlclose(void*) { return 0; }

namespace {

// The Base64 body of the part whose headers name cid, decoded.
QByteArray PartBody(const std::string& mail, const std::string& cid) {
    const size_t header = mail.find(cid);
    if (header == std::string::npos) return {};
    const size_t start = mail.find("\r\n\r\n", header);
    const size_t end = mail.find("\r\n--", start);
    if (start == std::string::npos || end == std::string::npos) return {};
    return QByteArray::fromBase64(QByteArray::fromStdString(mail.substr(start + 4, end - start - 4)));
}

}  // namespace

class VoiceMailNetTest : public QObject {
    Q_OBJECT

private slots:
    void recordedVoiceArrivesWhole();
};

void VoiceMailNetTest::recordedVoiceArrivesWhole() {
    const std::string netSkip = NetWorld::SkipReason();
    if (!netSkip.empty()) QSKIP(netSkip.c_str());
    PulseServer server;
    std::string soundSkip;
    if (!server.Start(&soundSkip)) QSKIP(("no private sound server: " + soundSkip).c_str());
    const std::filesystem::path speech = server.Folder() / "speech.wav";
    if (PulseServer::Run({"espeak-ng", "-s", "170", "-w", speech.string(),
                          "Hello, this is a voice letter, recorded in the window and sent by mail."}) != 0)
        QSKIP("espeak-ng cannot speak here (Debian espeak-ng)");
    NetWorld world(VOX_UI_WORLD);
    QVERIFY2(world.Ready(), world.Error().c_str());

    MessageRecorder boxes;
    CComposerDlg composer;
    composer.show();
    composer.Field(1000)->setText(QStringLiteral("me@example.cn"));
    composer.Field(1001)->setText(QStringLiteral("you@accept.test"));
    composer.Field(1004)->setText(QStringLiteral("语音信"));

    std::filesystem::remove(RecordingPath());
    const pid_t speaking = server.StartPlay(speech, "mic");
    bool recorded = false;
    OnNextModal<CAddSoundDlg>([&](CAddSoundDlg& sound) {
        OnNextModal<CRecordDlg>([&](CRecordDlg& record) {
            // Two seconds at 22050 Hz, 16 bits, mono, then Attach as soon as capture has ended.
            record.OnAdvanced();
            qobject_cast<QLineEdit*>(record.Control(1015))->setText(QStringLiteral("2"));
            qobject_cast<QAbstractButton*>(record.Control(1028))->click();
            qobject_cast<QAbstractButton*>(record.Control(1018))->click();
            qobject_cast<QAbstractButton*>(record.Control(1016))->click();
            auto* poll = new QTimer(&record);
            QObject::connect(poll, &QTimer::timeout, [&record, poll, &recorded] {
                if (!record.Control(1)->isEnabled()) return;
                poll->stop();
                recorded = true;
                qobject_cast<QAbstractButton*>(record.Control(1))->click();
            });
            poll->start(20);
        });
        qobject_cast<QAbstractButton*>(sound.Control(1016))->click();
        qobject_cast<QAbstractButton*>(sound.Control(1))->click();
    });
    composer.OnSound();
    ::kill(speaking, SIGTERM);
    PulseServer::Wait(speaking);
    QVERIFY(recorded);
    QCOMPARE(composer.Draft().m_strSound, std::string("<录音>"));
    QVERIFY2(boxes.messages.empty(), boxes.messages.empty() ? "" : qPrintable(boxes.messages[0].text));

    const std::string wav = ReadAll(RecordingPath());
    QCOMPARE(wav.size(), std::size_t{46 + 88200});  // 2 s of 44100 bytes, whole blocks of 2205
    QCOMPARE(wav.substr(0, 4), std::string("RIFF"));

    composer.OnSend();
    QTRY_VERIFY_WITH_TIMEOUT(composer.SendButton()->isEnabled(), 60000);
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("发送完毕"));

    QVERIFY(world.WaitForFile("127.0.0.2/1.eml"));
    const QByteArray sent = PartBody(world.Read("127.0.0.2/1.eml"), "VoxLetterYourSound");
    QCOMPARE(sent.size(), qsizetype(wav.size()));
    QVERIFY(sent == QByteArray::fromStdString(wav));
}

QTEST_MAIN(VoiceMailNetTest)
#include "voice_mail_net_test.moc"
