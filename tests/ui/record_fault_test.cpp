// The recording window when the sound server dies in the middle of a recording: the window says why
// within a second, goes idle, and what was recorded can still be attached.

#include <QAbstractButton>
#include <QLabel>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "pulse_server.h"
#include "sound/record_dlg.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::MessageRecorder;
using vox::testing::PulseServer;

class RecordFaultTest : public QObject {
    Q_OBJECT
private slots:
    void serverKilledWhileRecording();
};

void RecordFaultTest::serverKilledWhileRecording() {
    PulseServer server;
    std::string why;
    if (!server.Start(&why)) QSKIP(("no private sound server: " + why).c_str());
    const std::filesystem::path tone = server.Folder() / "tone.wav";
    QCOMPARE(PulseServer::Run({"sox", "-n", "-r", "8000", "-c", "1", "-b", "16", tone.string(), "synth", "20", "sine",
                               "440"}),
             0);
    const pid_t playing = server.StartPlay(tone, "mic");
    QTemporaryDir dir;
    const std::filesystem::path saved = dir.filePath(QStringLiteral("Sound.wav")).toStdString();

    MessageRecorder boxes;
    CRecordDlg record;
    record.SetSoundPath(saved);
    record.show();
    qobject_cast<QAbstractButton*>(record.Control(1016))->click();  // 10 s at 8000 Hz, 8 bits, mono
    QTRY_VERIFY_WITH_TIMEOUT(record.Recorder().GetRecordedBytes() >= 8000, 5000);
    // The server is ended from another thread: this one runs the window meanwhile, so the time the message
    // arrives is the window's, not the time it takes the harness to see the server gone.
    QElapsedTimer clock;
    clock.start();
    std::thread killer([&server] { server.Stop(); });
    qint64 shownAfter = -1;
    QTRY_VERIFY_WITH_TIMEOUT((shownAfter < 0 && !boxes.messages.empty() ? shownAfter = clock.elapsed() : 0,
                              !boxes.messages.empty()), 5000);
    killer.join();
    QVERIFY2(shownAfter < 1000, qPrintable(QString::number(shownAfter)));
    QVERIFY2(boxes.messages[0].text.startsWith(QStringLiteral("录音设备出错：")), qPrintable(boxes.messages[0].text));
    QTRY_COMPARE_WITH_TIMEOUT(record.State(), 0, 2000);
    QVERIFY(record.Control(1)->isEnabled());   // Attach
    QVERIFY(record.Control(1022)->isEnabled());  // Play
    const int32_t recorded = record.Recorder().GetRecordedBytes();
    QVERIFY(recorded >= 8000);
    qobject_cast<QAbstractButton*>(record.Control(1))->click();
    QCOMPARE(record.result(), int(QDialog::Accepted));
    std::ifstream in(saved, std::ios::binary);
    const std::string wav((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QCOMPARE(wav.size(), std::size_t(46 + recorded + (recorded & 1)));
    ::kill(playing, SIGTERM);
    PulseServer::Wait(playing);
}

QTEST_MAIN(RecordFaultTest)
#include "record_fault_test.moc"
