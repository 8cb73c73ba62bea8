// The composer's draft: what is saved and brought back, within how long, after a kill -9 of the program,
// the "新邮件" command, a damaged draft, a send that reached everyone, and the sent copy.

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

#include <QElapsedTimer>

#include <cstdio>
#include <fstream>
#include <filesystem>

#include "app/composer_dlg.h"
#include "controls/text_format.h"
#include "delivery/sending_dlg.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::MessageRecorder;
using vox::test::Items;

namespace {

constexpr char kChildVariable[] = "VOX_DRAFT_CHILD";  // the draft folder of a composer to be killed

std::filesystem::path DraftJson(const QTemporaryDir& dir) {
    return std::filesystem::path(dir.path().toStdString()) / "draft" / "draft.json";
}

CComposerDlg::KeptFolders Kept(const QTemporaryDir& dir) {
    return {dir.filePath(QStringLiteral("draft")).toStdString(), dir.filePath(QStringLiteral("Sent")).toStdString()};
}

// Everything a letter can hold, set as the windows set it.
void FillEverything(CComposerDlg& dlg, const QString& picture) {
    dlg.Field(1000)->setText(QStringLiteral("我@example.cn"));
    dlg.Field(1001)->setText(QStringLiteral("a@one.example;b@two.example"));
    dlg.Field(1002)->setText(QStringLiteral("c@three.example"));
    dlg.Field(1003)->setText(QStringLiteral("d@four.example"));
    dlg.Field(1004)->setText(QStringLiteral("主题"));
    dlg.Body()->setPlainText(QStringLiteral("第一行\n第二行"));
    QTextCursor cursor(dlg.Body()->document());
    cursor.select(QTextCursor::Document);
    QFont font = QtFont(CharFormat{"Noto Sans", 280, 0, 0});
    font.setBold(true);
    font.setUnderline(true);
    const QTextCharFormat format = QtCharFormat(font, QColor(0x12, 0x34, 0x56));
    cursor.setCharFormat(format);
    dlg.Body()->setCurrentCharFormat(format);
    QTextBlockFormat block;
    block.setAlignment(Qt::AlignRight);
    cursor.mergeBlockFormat(block);
    dlg.AttachmentList()->addItem(QStringLiteral("/tmp/附件.txt"));
    dlg.AttachmentList()->addItem(QStringLiteral("/tmp/b.bin"));
    MailDraft& d = dlg.Draft();
    d.m_nBackgroundMode = 1;
    d.m_crBackground = 0x00FF8000;
    d.m_strPicture = picture.toStdString();
    d.m_strSound = "/sounds/a.wav";
    d.m_nSoundLoops = 4;
}

// A delivery window that reports every recipient delivered at once.
std::unique_ptr<CSendingDlg> DeliveredAtOnce(const DeliveryRequest& request, QWidget* parent) {
    return std::make_unique<CSendingDlg>(static_cast<int>(request.recipients.size()), 8,
                                         [](DeliveryObserver&, const std::atomic<bool>&, FailureList&) {}, parent);
}

// The composer of a program that is killed: types a letter, says so, and waits for its end.
int RunChild() {
    const std::string folder = qEnvironmentVariable(kChildVariable).toStdString();
    CComposerDlg dlg(nullptr, {folder, {}});
    dlg.show();
    dlg.Field(1004)->setFocus();
    QTest::keyClicks(dlg.Field(1004), QStringLiteral("killed"));
    dlg.Body()->setFocus();
    QTest::keyClicks(dlg.Body(), QStringLiteral("typed before kill -9"));
    std::printf("typed\n");
    std::fflush(stdout);
    return QApplication::exec();
}

}  // namespace

class ComposerDraftTest : public QObject {
    Q_OBJECT

private slots:
    void everythingIsRestored();
    void savedWithinTwoSeconds();
    void survivesKill();
    void newLetter();
    void damagedDraft();
    void fullyDeliveredIsNotRestored();
};

void ComposerDraftTest::everythingIsRestored() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    const QString picture = QStringLiteral(VOX_PICTURE_DATA "/base-96dpi.jpg");
    {
        CComposerDlg first(nullptr, Kept(dir));
        FillEverything(first, picture);
        first.show();
        first.close();  // saves the letter as it is
    }
    CComposerDlg dlg(nullptr, Kept(dir));
    QCOMPARE(dlg.Field(1000)->text(), QStringLiteral("我@example.cn"));
    QCOMPARE(dlg.Field(1001)->text(), QStringLiteral("a@one.example;b@two.example"));
    QCOMPARE(dlg.Field(1002)->text(), QStringLiteral("c@three.example"));
    QCOMPARE(dlg.Field(1003)->text(), QStringLiteral("d@four.example"));
    QCOMPARE(dlg.Field(1004)->text(), QStringLiteral("主题"));
    QCOMPARE(dlg.Body()->toPlainText(), QStringLiteral("第一行\n第二行"));
    const CharFormat cf = CharFormatFromQt(dlg.Body()->currentCharFormat(), dlg.Body()->font());
    QCOMPARE(QString::fromStdString(cf.szFaceName), QStringLiteral("Noto Sans"));
    QCOMPARE(cf.yHeight, 280);
    QCOMPARE(cf.crTextColor, COLORREF(0x563412));
    QCOMPARE(cf.dwEffects, CFE_BOLD | CFE_UNDERLINE);
    // Every paragraph, not only the first, has the alignment.
    for (QTextBlock b = dlg.Body()->document()->begin(); b.isValid(); b = b.next())
        QCOMPARE(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(Items(dlg.AttachmentList()), (QStringList{QStringLiteral("/tmp/b.bin"), QStringLiteral("/tmp/附件.txt")}));
    const MailDraft& d = dlg.Draft();
    QCOMPARE(d.m_nBackgroundMode, 1);
    QCOMPARE(d.m_crBackground, COLORREF(0x00FF8000));
    QCOMPARE(QString::fromStdString(d.m_strPicture), picture);
    QCOMPARE(d.m_strSound, std::string("/sounds/a.wav"));
    QCOMPARE(d.m_nSoundLoops, 4);
    QVERIFY(dlg.InfoPane()->text().contains(QStringLiteral("已恢复上次未发送的邮件")));
    QVERIFY(!dlg.NewLetterButton()->isHidden());
    QVERIFY(boxes.messages.empty());
}

void ComposerDraftTest::savedWithinTwoSeconds() {
    QTemporaryDir dir;
    CComposerDlg dlg(nullptr, Kept(dir));
    dlg.show();
    QTest::keyClicks(dlg.Field(1004), QStringLiteral("x"));
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(test::ReadAll(DraftJson(dir)).find("\"subject\": \"x\"") != std::string::npos, 2000);
    // Steady typing does not put the save off: a key every 300 ms for 3 seconds is saved along the way.
    for (int i = 0; i < 10; ++i) {
        QTest::keyClicks(dlg.Body(), QStringLiteral("y"));
        QTest::qWait(300);
    }
    QVERIFY(test::ReadAll(DraftJson(dir)).find("yyyyyyy") != std::string::npos);
}

void ComposerDraftTest::survivesKill() {
    QTemporaryDir dir;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromUtf8(kChildVariable), dir.filePath(QStringLiteral("draft")));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    QByteArray said;  // the check is evaluated more than once: what was read is kept
    QTRY_VERIFY_WITH_TIMEOUT((said += child.readAllStandardOutput()).contains("typed"), 20000);
    QTest::qWait(CComposerDlg::kDraftSaveDelayMs + 1000);  // what the draft's promise allows: 2 seconds
    child.kill();  // SIGKILL: no close, no clean-up
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    CComposerDlg dlg(nullptr, Kept(dir));
    QCOMPARE(dlg.Field(1004)->text(), QStringLiteral("killed"));
    QCOMPARE(dlg.Body()->toPlainText(), QStringLiteral("typed before kill -9"));
}

void ComposerDraftTest::newLetter() {
    MessageRecorder boxes;  // the restored picture mode without a picture says so
    QTemporaryDir dir;
    {
        CComposerDlg first(nullptr, Kept(dir));
        FillEverything(first, QString());
        first.SaveDraft();
    }
    CComposerDlg dlg(nullptr, Kept(dir));
    QCOMPARE(dlg.Field(1004)->text(), QStringLiteral("主题"));
    dlg.NewLetterButton()->click();
    for (int id : {1000, 1001, 1002, 1003, 1004}) QVERIFY(dlg.Field(id)->text().isEmpty());
    QVERIFY(dlg.Body()->toPlainText().isEmpty());
    QCOMPARE(dlg.AttachmentList()->count(), 0);
    QCOMPARE(dlg.Draft().m_nBackgroundMode, 0);
    QCOMPARE(dlg.Draft().m_crBackground, kWhite);
    QVERIFY(dlg.Draft().m_strSound.empty());
    QCOMPARE(CharFormatFromQt(dlg.Body()->currentCharFormat(), dlg.Body()->font()).yHeight, kDefaultHeight);
    QVERIFY(dlg.NewLetterButton()->isHidden());
    QVERIFY(!dlg.InfoPane()->text().contains(QStringLiteral("已恢复")));
    QVERIFY(!std::filesystem::exists(DraftJson(dir)));
    CComposerDlg again(nullptr, Kept(dir));
    QVERIFY(again.Field(1004)->text().isEmpty());
}

void ComposerDraftTest::damagedDraft() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath(QStringLiteral("draft")));
    std::ofstream(DraftJson(dir)) << "{\"version\": 1, \"subject\": ";
    {
        CComposerDlg dlg(nullptr, Kept(dir));
        QVERIFY(dlg.Field(1004)->text().isEmpty());
        QCOMPARE(boxes.messages.size(), std::size_t{1});
        QVERIFY(boxes.messages[0].text.startsWith(QStringLiteral("草稿无法读取")));
        QVERIFY(QDir(dir.filePath(QStringLiteral("draft"))).entryList({QStringLiteral("draft.json.damaged-*")}).size() == 1);
    }
    CComposerDlg again(nullptr, Kept(dir));
    QCOMPARE(boxes.messages.size(), std::size_t{1});  // reported once
}

void ComposerDraftTest::fullyDeliveredIsNotRestored() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    {
        CComposerDlg dlg(nullptr, Kept(dir));
        dlg.SetSendingDlgFactory(DeliveredAtOnce);
        dlg.Field(1000)->setText(QStringLiteral("me@example.cn"));
        dlg.Field(1001)->setText(QStringLiteral("a@one.example"));
        dlg.Body()->setPlainText(QStringLiteral("sent"));
        dlg.show();
        dlg.OnSend();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
        // The report says where the copy of the mail is; the copy is the mail as sent.
        QCOMPARE(boxes.messages.size(), std::size_t{1});
        const QString report = boxes.messages[0].text;
        QVERIFY2(report.startsWith(QStringLiteral("发送完毕\r\n\r\n已发邮件保存在：")), qPrintable(report));
        const QString copy = report.mid(report.indexOf(QStringLiteral("：")) + 1);
        QVERIFY(copy.startsWith(dir.filePath(QStringLiteral("Sent/cur/"))));
        QVERIFY(copy.endsWith(QStringLiteral(":2,S")));
        QVERIFY(test::ReadAll(copy.toStdString()).find("From: me@example.cn\r\n") == 0);
        QVERIFY(test::ReadAll(copy.toStdString()).find("c2VudA==") != std::string::npos);  // "sent"
        dlg.close();
    }
    CComposerDlg again(nullptr, Kept(dir));
    QVERIFY(again.Body()->toPlainText().isEmpty());
    QVERIFY(again.NewLetterButton()->isHidden());
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildVariable)) return RunChild();
    ComposerDraftTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "composer_draft_test.moc"
