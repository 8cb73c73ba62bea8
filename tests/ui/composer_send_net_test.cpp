// Whole sends from the composer window through real DNS and SMTP servers in a network namespace of the
// test's own (tests/harness/net): the real field check, assembly worker, delivery window and job, and the
// report as the user reads it.

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <set>

#include "app/composer_dlg.h"
#include "controls/body_edit.h"
#include "delivery/sending_dlg.h"
#include "dialogs/align_dlg.h"
#include "dialogs/background_dlg.h"
#include "dialogs/font_dlg.h"
#include "mail_parts.h"
#include "modal_answer.h"
#include "net_world.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::FileChooserScript;
using vox::test::MessageRecorder;
using vox::test::NetWorld;

namespace {

// Looks at the delivery window, whenever one is open, between the worker's reports.
class DeliveryWatcher {
public:
    explicit DeliveryWatcher(std::function<void(CSendingDlg&)> look) : m_look(std::move(look)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* dlg = qobject_cast<CSendingDlg*>(QApplication::activeModalWidget())) m_look(*dlg);
        });
        m_timer.start(0);
    }

private:
    QTimer m_timer;
    std::function<void(CSendingDlg&)> m_look;
};

void WriteFile(const QString& path, const std::string& bytes) {
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

}  // namespace

class ComposerSendNetTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void wholeSendReportsEachFailure();
    void cancelDuringALongTransfer();
    void styledVoiceMail();

private:
    std::unique_ptr<NetWorld> m_world;
};

void ComposerSendNetTest::init() {
    const std::string skip = NetWorld::SkipReason();
    if (!skip.empty()) QSKIP(skip.c_str());
    m_world = std::make_unique<NetWorld>(VOX_UI_WORLD);
    QVERIFY2(m_world->Ready(), m_world->Error().c_str());
}

void ComposerSendNetTest::cleanup() { m_world.reset(); }

void ComposerSendNetTest::wholeSendReportsEachFailure() {
    QTemporaryDir dir;
    const QString attachment = dir.filePath(QStringLiteral("地图.txt"));
    WriteFile(attachment, "map data 123");
    FileChooserScript chooser;
    chooser.answers = {{attachment}};
    MessageRecorder boxes;

    CComposerDlg dlg;
    dlg.show();
    dlg.Field(1000)->setText(QStringLiteral("小明@example.cn"));
    dlg.Field(1001)->setText(QStringLiteral("a@accept.test;b@refuse.test"));
    dlg.Field(1002)->setText(QStringLiteral("c@gone.test"));
    dlg.Field(1003)->setText(QStringLiteral("d@record.test"));
    dlg.Field(1004)->setText(QStringLiteral("周末聚会"));
    dlg.Body()->setPlainText(QStringLiteral("你好\n世界"));
    dlg.OnAddAttachment();

    std::set<QString> lines, recipients;
    int recipientBarMax = 0, stepRange = 0;
    DeliveryWatcher watcher([&](CSendingDlg& sending) {
        lines.insert(sending.StepLine()->text());
        recipients.insert(sending.RecipientLine()->text());
        recipientBarMax = sending.RecipientBar()->maximum();
        stepRange = sending.StepRange();
    });

    dlg.OnSend();
    QVERIFY(!dlg.SendButton()->isEnabled());
    QCOMPARE(dlg.Progress()->maximum(), 7);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 60000);

    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].caption, QStringLiteral("信息"));
    QVERIFY(boxes.messages[0].icon == MessageIcon::Exclamation);
    QCOMPARE(boxes.messages[0].text,
             QStringLiteral("以下邮件地址不能正确投递\r\n\r\n"
                            "b@refuse.test\r\n失败原因：550 5.1.1 <b@refuse.test>: Recipient address rejected\r\n"
                            "\r\n\r\n"
                            "c@gone.test\r\n失败原因：无法获得邮件服务器\r\n\r\n"));

    // The window showed the job as it went.
    QCOMPARE(recipientBarMax, 4);
    QVERIFY(stepRange >= 8);
    QVERIFY(lines.count(QStringLiteral("正在建立连接...")));
    QVERIFY(lines.count(QStringLiteral("正在断开连接...")));
    QVERIFY(recipients.count(QStringLiteral("d@record.test")));

    // The mail arrived whole, attachment included, at the To and the Bcc exchangers.
    QVERIFY(m_world->WaitForFile("127.0.0.2/1.eml"));
    const std::string mail = m_world->Read("127.0.0.2/1.eml");
    QVERIFY(mail.find("bWFwIGRhdGEgMTIz") != std::string::npos);  // "map data 123"
    QVERIFY(m_world->WaitForFile("127.0.0.3/1.done"));
    const std::string raw = m_world->Read("127.0.0.3/1.raw");
    QVERIFY(raw.find("RCPT TO:<d@record.test>") != std::string::npos);
    QVERIFY(raw.find("bWFwIGRhdGEgMTIz") != std::string::npos);
    QVERIFY(raw.find("\r\n.\r\nQUIT") != std::string::npos);

    // The composed message stays for another send.
    QCOMPARE(dlg.Field(1001)->text(), QStringLiteral("a@accept.test;b@refuse.test"));
    QVERIFY(dlg.Progress()->isHidden());
}

void ComposerSendNetTest::cancelDuringALongTransfer() {
    QTemporaryDir dir;
    const QString attachment = dir.filePath(QStringLiteral("big.bin"));
    WriteFile(attachment, std::string(6 << 20, 'v'));
    FileChooserScript chooser;
    chooser.answers = {{attachment}};
    MessageRecorder boxes;

    CComposerDlg dlg;
    dlg.show();
    dlg.Field(1000)->setText(QStringLiteral("me@example.cn"));
    dlg.Field(1001)->setText(QStringLiteral("a@record.test;b@accept.test"));
    dlg.OnAddAttachment();

    // Cancel as soon as the transfer is well under way.
    QString lineAtCancel;
    DeliveryWatcher watcher([&](CSendingDlg& sending) {
        const QString line = sending.StepLine()->text();
        if (lineAtCancel.isEmpty() && line.startsWith(QStringLiteral("已经传输数据")) &&
            !line.startsWith(QStringLiteral("已经传输数据0字节"))) {
            lineAtCancel = line;
            sending.CancelButton()->click();
        }
    });

    dlg.OnSend();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 60000);
    QVERIFY2(!lineAtCancel.isEmpty(), "the transfer ended before Cancel could be pressed");

    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("以下邮件地址不能正确投递\r\n\r\n"
                                                    "a@record.test\r\n失败原因：发送已取消\r\n\r\n"
                                                    "b@accept.test\r\n失败原因：发送已取消\r\n\r\n"));
    QVERIFY(boxes.messages[0].icon == MessageIcon::Exclamation);

    // The cut transfer has no end-of-data line and no QUIT; the next recipient was never begun.
    QVERIFY(m_world->WaitForFile("127.0.0.3/1.done"));
    const std::string raw = m_world->Read("127.0.0.3/1.raw");
    const std::size_t data = raw.find("DATA\r\n");
    QVERIFY(data != std::string::npos);
    QVERIFY(raw.size() - data < (6u << 20));
    QCOMPARE(raw.find("\r\n.\r\n", data), std::string::npos);
    QCOMPARE(raw.find("QUIT"), std::string::npos);
    const auto queries = m_world->DnsQueries();
    QVERIFY(std::none_of(queries.begin(), queries.end(),
                         [](const std::string& q) { return q.rfind("accept.test", 0) == 0; }));
}

void ComposerSendNetTest::styledVoiceMail() {
    // A voice, a tiled picture behind centred bold text in a face whose name has spaces, an attachment.
    QTemporaryDir dir;
    const QString sound = dir.filePath(QStringLiteral("问候.wav"));
    std::string wav("RIFF\x24\x10\0\0WAVEfmt ", 16);
    for (int i = 0; i < 4096; ++i) wav += static_cast<char>(i * 7);
    WriteFile(sound, wav);
    const QString picture = dir.filePath(QStringLiteral("花纹.bmp"));
    QImage tile(24, 12, QImage::Format_RGB32);
    tile.fill(qRgb(250, 220, 90));
    QVERIFY(tile.save(picture));
    const QString attachment = dir.filePath(QStringLiteral("菜单.txt"));
    WriteFile(attachment, "牛肉面 12\n");
    FileChooserScript chooser;
    chooser.answers = {{attachment}};
    MessageRecorder boxes;

    CComposerDlg dlg;
    dlg.show();
    dlg.Field(1000)->setText(QStringLiteral("小明@example.cn"));
    dlg.Field(1001)->setText(QStringLiteral("a@accept.test"));
    dlg.Field(1004)->setText(QStringLiteral("听我说"));
    dlg.Body()->setPlainText(QStringLiteral("老王：\n周六见！"));
    dlg.OnAddAttachment();
    dlg.Draft().m_strSound = sound.toStdString();
    dlg.Draft().m_nSoundLoops = 2;
    {
        test::ModalAnswer<CBackgroundDlg> answer([&](CBackgroundDlg& bg) {
            QTest::mouseClick(bg.findChild<QRadioButton*>(QStringLiteral("1018")), Qt::LeftButton);
            qobject_cast<QLineEdit*>(bg.Control(1015))->setText(picture);
            QTest::mouseClick(bg.findChild<QAbstractButton*>(QStringLiteral("1")), Qt::LeftButton);
        });
        dlg.OnBackground();
    }
    {
        test::ModalAnswer<CAlignDlg> answer([](CAlignDlg& align) {
            QTest::mouseClick(align.findChild<QRadioButton*>(QStringLiteral("1018")), Qt::LeftButton);
            QTest::mouseClick(align.findChild<QAbstractButton*>(QStringLiteral("1")), Qt::LeftButton);
        });
        dlg.OnFormat();
    }
    FontChooserFunction previous = SetFontChooserFunction([](QWidget*, QFont& font, QColor& color) {
        font = QFont(QStringLiteral("DejaVu Sans Mono"), 14);
        font.setBold(true);
        color = QColor(0x80, 0, 0x20);
        return true;
    });
    dlg.OnFont();
    SetFontChooserFunction(previous);
    QCOMPARE(boxes.messages.size(), std::size_t{0});

    dlg.OnSend();
    QCOMPARE(dlg.Progress()->maximum(), 7);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 60000);
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("发送完毕"));

    QVERIFY(m_world->WaitForFile("127.0.0.2/1.eml"));
    const QList<test::MailPart> parts = test::MailParts(QByteArray::fromStdString(m_world->Read("127.0.0.2/1.eml")));
    const QByteArray page = test::FindPart(parts, "content-type: text/html").body;
    QVERIFY(page.contains("<BODY BACKGROUND=cid:VoxLetterYourPictue>\r\n"));
    QVERIFY(page.contains("<BGSOUND SRC=\"cid:VoxLetterYourSound\" loop=2>\r\n"));
    QVERIFY(page.contains("<DIV align=center>\r\n<FONT face=\"DejaVu Sans Mono\" size=4 color=#800020>\r\n<B>"));
    QVERIFY(page.contains("\r\n</B>\r\n</FONT>"));
    const auto bytesOf = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };
    QCOMPARE(test::FindPart(parts, "<VoxLetterYourPictue>").body, bytesOf(picture));
    QCOMPARE(test::FindPart(parts, "<VoxLetterYourSound>").body, bytesOf(sound));
    QByteArray attached;
    for (const test::MailPart& part : parts)
        if (part.headers.contains("content-disposition: attachment") && !part.headers.contains("<VoxLetter"))
            attached = part.body;
    QCOMPARE(attached, bytesOf(attachment));
}

QTEST_MAIN(ComposerSendNetTest)
#include "composer_send_net_test.moc"
