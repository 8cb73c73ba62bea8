// Writes pictures of the windows with sample contents, for the README and for looking at the layout:
// composer.png (styled: hover buttons, a tiled picture behind centred text), body-wmf.png (the body over
// a metafile tile), sending.png, about.png, font.png, record.png (a recording under way) and
// record_advanced.png, sound.png (the sound window with the voice as Opus) and account.png in the folder
// given as the only argument.
// Run under a real X server (scripts/screenshot.sh uses Xvfb), not in a test.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "account/account_dlg.h"
#include "app/about_dlg.h"
#include "app/app_resources.h"
#include "app/composer_dlg.h"
#include "controls/body_edit.h"
#include "delivery/sending_dlg.h"
#include "dialogs/dialog_units.h"
#include "dialogs/file_chooser.h"
#include "dialogs/font_dlg.h"
#include "dialogs/align_dlg.h"
#include "dialogs/background_dlg.h"
#include "modal_answer.h"
#include "scripted_wave_device.h"
#include "compose/mail_draft.h"
#include "sound/add_sound_dlg.h"
#include "sound/record_dlg.h"

using namespace vox;

namespace {

// A soft repeating pattern for the body's background picture.
QString WritePatternPicture(const QTemporaryDir& dir) {
    QImage tile(96, 96, QImage::Format_RGB32);
    tile.fill(QColor(0xFD, 0xF6, 0xE3));
    QPainter painter(&tile);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor petals[] = {QColor(0xF6, 0xD5, 0xDA), QColor(0xD8, 0xE8, 0xF6), QColor(0xE2, 0xF0, 0xD6)};
    for (int i = 0; i < 3; ++i) {
        painter.setBrush(petals[i]);
        const QPointF centre(16 + 32 * i, 20 + 28 * ((i + 1) % 3));
        for (int k = 0; k < 5; ++k) {
            const double a = k * 2 * 3.14159265 / 5;
            painter.drawEllipse(centre + QPointF(7 * std::cos(a), 7 * std::sin(a)), 6, 6);
        }
        painter.setBrush(QColor(0xF3, 0xE0, 0x9A));
        painter.drawEllipse(centre, 3.5, 3.5);
    }
    painter.end();
    const QString path = dir.filePath(QStringLiteral("pattern.bmp"));
    tile.save(path);
    return path;
}

bool Save(QWidget& window, const QDir& folder, const char* name) {
    QApplication::processEvents();
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

void Settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    QApplication::setFont(DialogFont());
    LoadQtTranslation();
    bool ok = true;

    {
        CComposerDlg composer;
        composer.Field(1000)->setText(QStringLiteral("xiaoming@example.cn"));
        composer.Field(1001)->setText(QStringLiteral("laowang@example.com;lili@example.org"));
        composer.Field(1002)->setText(QStringLiteral("zhang.san@example.net"));
        composer.Field(1004)->setText(QStringLiteral("周末聚会的邀请"));
        composer.Body()->setPlainText(
            QStringLiteral("老王、丽丽：\n\n你们好！这个周六晚上六点，我们在老地方聚一聚，"
                           "附件里是地图和菜单。打开邮件就能听到我的语音邀请。\n\n小明"));
        FileChooserFunction previous = SetFileChooserFunction([](QWidget*, const QString&, const QString&, bool) {
            return QStringList{QStringLiteral("/home/xiaoming/文档/地图.png"),
                               QStringLiteral("/home/xiaoming/文档/菜单.pdf")};
        });
        composer.OnAddAttachment();
        SetFileChooserFunction(previous);
        // Styled: a tiled picture behind centred text, as Background and Format leave it.
        QTemporaryDir pictures;
        const QString pattern = WritePatternPicture(pictures);
        {
            test::ModalAnswer<CBackgroundDlg> answer([&](CBackgroundDlg& bg) {
                bg.findChild<QRadioButton*>(QStringLiteral("1018"))->click();
                qobject_cast<QLineEdit*>(bg.Control(1015))->setText(pattern);
                bg.OnOK();
            });
            composer.OnBackground();
        }
        {
            test::ModalAnswer<CAlignDlg> answer([](CAlignDlg& align) {
                align.findChild<QRadioButton*>(QStringLiteral("1018"))->click();
                align.OnOK();
            });
            composer.OnFormat();
        }
        composer.Body()->moveCursor(QTextCursor::End);
        // Without a window manager nothing maximises: give the window the whole screen by hand.
        for (int id : {1000, 1001, 1002, 1004}) composer.Field(id)->setCursorPosition(0);
        composer.setWindowState(Qt::WindowNoState);
        composer.setGeometry(QApplication::primaryScreen()->availableGeometry());
        composer.show();
        Settle(300);
        // The pointer over Send: its hover look.
        auto* send = composer.SendButton();
        const QPointF inside(send->width() / 2.0, send->height() / 2.0);
        QEnterEvent enter(inside, send->mapTo(&composer, inside), send->mapToGlobal(inside));
        QApplication::sendEvent(send, &enter);
        Settle(100);
        ok = Save(composer, folder, "composer.png") && ok;
        // The same letter over a metafile tile, as SetBackgroundPicture shows it.
        composer.Body()->SetBackgroundPicture(QStringLiteral(VOX_PICTURE_DATA "/libreoffice-shapes.wmf"));
        Settle(200);
        ok = Save(*composer.Body(), folder, "body-wmf.png") && ok;
    }

    {
        std::atomic<bool> shown{false};
        CSendingDlg sending(3, 10, [&](DeliveryObserver& o, const std::atomic<bool>& cancel, FailureList&) {
            o.SetRecipientText("laowang@example.com");
            o.StepRecipientBar();
            o.StepRecipientBar();
            o.SetStepBar(0);
            for (int i = 0; i < 6; ++i) o.StepStepBar();
            o.SetStepLine("已经传输数据2048字节，共5000字节");
            shown = true;
            while (!cancel) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        QTimer::singleShot(0, &sending, [&] {
            while (!shown) QApplication::processEvents(QEventLoop::AllEvents, 10);
            Settle(200);
            ok = Save(sending, folder, "sending.png") && ok;
            sending.OnCancelSending();
        });
        sending.exec();
    }

    {
        CAboutDlg about;
        about.show();
        Settle(200);
        ok = Save(about, folder, "about.png") && ok;
    }

    {
        // The account window after 查找, as a person sees it before typing the password.
        QTemporaryDir config;
        AccountServices services = RealAccountServices();
        services.accountsFile = (config.path() + "/accounts.conf").toStdString();
        CAccountDlg account(QStringLiteral("xiaoming@example.com"), services);
        account.ProviderChoice()->setChecked(true);
        account.Host()->setText(QStringLiteral("smtp.example.com"));
        account.Port()->setValue(465);
        account.SecurityChoice()->setCurrentIndex(0);
        account.Status()->setText(QStringLiteral("找到 smtp.example.com:465 TLS，来自 SRV _submissions._tcp.example.com"));
        account.show();
        Settle(200);
        ok = Save(account, folder, "account.png") && ok;
    }

    {
        QFont font(QStringLiteral("WenQuanYi Micro Hei"), 12);
        font.setBold(true);
        CFontDlg fontDlg(font, QColor(0x20, 0x60, 0xC0));
        fontDlg.show();
        Settle(200);
        ok = Save(fontDlg, folder, "font.png") && ok;
    }
    {
        // A recording under way, on the scripted device: 44100 Hz 16-bit stereo, 37 blocks in.
        QDir temp = QDir::temp();
        auto device = std::make_unique<vox::testing::ScriptedWaveDevice>();
        vox::testing::ScriptedWaveDevice* dev = device.get();
        auto rec = std::make_unique<CWaveRecorder>(std::move(device));
        rec->SetTempFolder(temp.path().toStdString());
        CRecordDlg record(std::move(rec));
        record.show();
        record.OnAdvanced();
        record.findChild<QRadioButton*>(QStringLiteral("1029"))->setChecked(true);
        record.findChild<QRadioButton*>(QStringLiteral("1018"))->setChecked(true);
        record.findChild<QRadioButton*>(QStringLiteral("1025"))->setChecked(true);
        Settle(200);
        ok = Save(record, folder, "record_advanced.png") && ok;
        record.OnRecord();
        dev->CaptureBlocks(37);
        dev->WaitIdle();
        Settle(200);
        record.OnWaveLevel(21000);
        Settle(100);
        ok = Save(record, folder, "record.png") && ok;
        record.reject();
        temp.remove(QStringLiteral("tempRecord"));
    }
    {
        VoiceOptions voice;
        voice.format = VoiceFormat::Opus;
        voice.normalize = true;
        CAddSoundDlg sound(kRecordingMarker, 0, nullptr, voice);
        sound.show();
        Settle(200);
        ok = Save(sound, folder, "sound.png") && ok;
        sound.reject();
    }
    return ok ? 0 : 1;
}
