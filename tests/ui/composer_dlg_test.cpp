// The composer window: field check feedback, attachments, layout, font, and the send's life cycle with a
// scripted delivery window (no network).

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <ctime>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "app/about_dlg.h"
#include "app/composer_dlg.h"
#include "controls/body_edit.h"
#include "app/maker_info.h"
#include "controls/text_format.h"
#include "delivery/outbox.h"
#include "delivery/sending_dlg.h"
#include "dialogs/message_box.h"
#include "dialogs/font_dlg.h"
#include "memory_keyring.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::FileChooserScript;
using vox::test::MessageRecorder;
using vox::test::Items;

namespace {

// A delivery window whose worker reports the given failures at once, and which notes what it was given.
struct ScriptedDelivery {
    int windows = 0;
    std::vector<std::string> recipients;
    std::string message;
    std::string sender;
    std::string relay;  // "host:port" of the relay the send was given, empty for direct delivery
    std::string password;  // the relay's
    std::string passwordSource;  // where a retry of a waiting recipient reads it again
    int progressAtDelivery = -1;
    FailureList failures;
    bool portBlocked = false;  // what the delivery says of port 25

    CComposerDlg::SendingDlgFactory Factory(CComposerDlg* composer) {
        return [this, composer](const DeliveryRequest& request, QWidget* parent) {
            const std::vector<std::string>& rcpts = request.recipients;
            ++windows;
            recipients = rcpts;
            message = *request.message;
            sender = request.envelopeSender;
            relay = request.relay ? request.relay->host + ":" + std::to_string(request.relay->port) : "";
            password = request.relay ? request.relay->password : "";
            passwordSource = request.relayPasswordSource;
            progressAtDelivery = composer->Progress()->value();
            FailureList result = failures;
            // The work runs once the window shows, by which time it knows its window.
            auto window = std::make_shared<CSendingDlg*>(nullptr);
            auto sending = std::make_unique<CSendingDlg>(
                static_cast<int>(rcpts.size()), 8,
                [result, window, blocked = portBlocked](DeliveryObserver&, const std::atomic<bool>&, FailureList& out) {
                    out = result;
                    (*window)->SetPortBlocked(blocked);
                },
                parent);
            *window = sending.get();
            return sending;
        };
    }
};

void FillValid(CComposerDlg& dlg) {
    dlg.Field(1000)->setText(QStringLiteral("我@example.cn"));
    dlg.Field(1001)->setText(QStringLiteral("a@one.example;b@two.example"));
    dlg.Field(1004)->setText(QStringLiteral("主题"));
    dlg.Body()->setPlainText(QStringLiteral("你好"));
}

}  // namespace

class ComposerDlgTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void outboxRoundAtStart();
    void longReportScrollsWithOkOnScreen();
    void templateLayout();
    void tabOrderFollowsTemplate();
    void fieldCheckFocusAndSelection_data();
    void fieldCheckFocusAndSelection();
    void attachmentsSortedWithoutDuplicates();
    void removeSelectedAttachments();
    void onSizeFormulas();
    void resizeFollowsFormulas();
    void fontAppliedToWholeBody();
    void fontWindowAddsStyleAndColour();
    void formatsCapturedForTheMail_data();
    void formatsCapturedForTheMail();
    void stepCount_data();
    void stepCount();
    void reportListsFailures();
    void longFieldsAreNotCut();
    void routeOfTheSender();
    void blockedPortOffersTheAccountWindow();
    void editsDuringSendDoNotReachIt();
    void destroyedDuringSend();
    void closing_data();
    void closing();
    void aboutBox();
    void relaySettingsFile_data();
    void relaySettingsFile();
    void sizeWarningChoices();
};

void ComposerDlgTest::templateLayout() {
    CComposerDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("VoxLetter语音邮件2.0"));
    QVERIFY(dlg.windowState() & Qt::WindowMaximized);
    QVERIFY(!dlg.windowIcon().isNull());
    // 1 dialog unit = 1.5 pixels: sender field 46,7,120,12 and body 7,114,306,180.
    QCOMPARE(dlg.Field(1000)->geometry(), QRect(69, 11, 180, 18));
    QCOMPARE(dlg.Control(1010)->geometry(), QRect(260, 38, 210, 99));
    QCOMPARE(qobject_cast<QPushButton*>(dlg.Control(1009))->text(), QStringLiteral("发送"));
    QVERIFY(qobject_cast<QPushButton*>(dlg.Control(1009))->isDefault());
    QVERIFY(dlg.Progress()->isHidden());
    // The panes and the other-works button sit right of the restored client area.
    // The panes keep their place and width and grow downwards until their whole text fits.
    const QRect help = dlg.HelpPane()->geometry();
    QCOMPARE(help.topLeft(), QPoint(480, 10));
    QCOMPARE(help.width(), 220);
    QVERIFY(help.height() >= 120 && help.height() >= dlg.HelpPane()->heightForWidth(220));
    QVERIFY(dlg.HelpPane()->text().startsWith(QStringLiteral("    帮助：\n    本程序无需提供邮件发送账号")));
    const QRect info = dlg.InfoPane()->geometry();
    QCOMPARE(info.topLeft(), QPoint(710, 10));
    QCOMPARE(info.width(), 300);
    QVERIFY(info.height() >= 160 && info.height() >= dlg.InfoPane()->heightForWidth(300));
    const QRect works = dlg.Control(1021)->geometry();
    QCOMPARE(works.x(), 480);
    QCOMPARE(works.size(), QSize(220, 20));
    QVERIFY(works.y() >= 145 && works.y() > help.bottom() && works.bottom() < dlg.Body()->y());
    QCOMPARE(qobject_cast<QPushButton*>(dlg.Control(1021))->text(),
             QString::fromUtf8(kMakerName) + QStringLiteral("的其他作品"));
}

void ComposerDlgTest::tabOrderFollowsTemplate() {
    CComposerDlg dlg;
    const QList<int> expected = {1000, 1001, 1002, 1003, 1004, 1010, 1012, 1013,
                                 1005, 1006, 1007, 1011, 1008, 1009, 1021};
    QList<int> order;
    QWidget* w = dlg.Field(1000);
    for (int guard = 0; guard < 100 && order.size() < expected.size(); ++guard, w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus) order << w->objectName().toInt();
    }
    QCOMPARE(order, expected);
}

void ComposerDlgTest::fieldCheckFocusAndSelection_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("cc");
    QTest::addColumn<QString>("bcc");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focus");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("cursor");

    const QString from = QStringLiteral("我@example.cn");
    QTest::newRow("sender empty") << "" << "a@b.cn" << "" << "" << "请正确填写发件人" << 1000 << "" << 0;
    QTest::newRow("sender at sign first") << "@b.cn" << "a@b.cn" << "" << "" << "请正确填写发件人" << 1000 << "" << 5;
    QTest::newRow("to without at sign") << from << "nobody" << "" << "" << "请正确填写收件人" << 1001 << "" << 6;
    QTest::newRow("to empty entry") << from << "a@b.cn;;c@d.cn" << "" << "" << "请正确填写收件人" << 1001 << "" << 7;
    // Multi-byte text before the entry: the byte offsets must land on the right characters.
    QTest::newRow("cc chinese entry") << from << "a@b.cn" << QStringLiteral("张三@例子.中国;李四") << ""
                                      << "请正确填写抄送" << 1002 << QStringLiteral("李四") << 11;
    QTest::newRow("bcc entry with space") << from << "a@b.cn" << "" << QStringLiteral("王@例.cn; bad.one")
                                          << "请正确填写暗送" << 1003 << QStringLiteral(" bad.one") << 15;
}

void ComposerDlgTest::fieldCheckFocusAndSelection() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, cc);
    QFETCH(QString, bcc);
    QFETCH(QString, message);
    QFETCH(int, focus);
    QFETCH(QString, selected);
    QFETCH(int, cursor);

    MessageRecorder boxes;
    CComposerDlg dlg;
    dlg.showNormal();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    dlg.Field(1000)->setText(from);
    dlg.Field(1001)->setText(to);
    dlg.Field(1002)->setText(cc);
    dlg.Field(1003)->setText(bcc);
    dlg.Field(1004)->setFocus();

    dlg.OnSend();

    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, message);
    QCOMPARE(boxes.messages[0].caption, QStringLiteral("错误"));
    QVERIFY(boxes.messages[0].icon == MessageIcon::Exclamation);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg.Field(focus)));
    QCOMPARE(dlg.Field(focus)->selectedText(), selected);
    QCOMPARE(dlg.Field(focus)->cursorPosition(), cursor);
    QVERIFY(dlg.SendButton()->isEnabled());
    QVERIFY(dlg.Progress()->isHidden());
}

void ComposerDlgTest::attachmentsSortedWithoutDuplicates() {
    FileChooserScript chooser;
    CComposerDlg dlg;
    chooser.answers = {{"/tmp/b.txt", "/tmp/A.txt", "/tmp/b.txt"}, {"/tmp/a.txt", "/tmp/A.txt"}, {}};
    dlg.OnAddAttachment();
    QCOMPARE(Items(dlg.AttachmentList()), QStringList({"/tmp/A.txt", "/tmp/b.txt"}));
    dlg.OnAddAttachment();  // a case variant is another file; the exact duplicate is not added again
    QCOMPARE(Items(dlg.AttachmentList()), QStringList({"/tmp/A.txt", "/tmp/a.txt", "/tmp/b.txt"}));
    dlg.OnAddAttachment();  // Cancel
    QCOMPARE(dlg.AttachmentList()->count(), 3);
    QCOMPARE(chooser.calls, 3);
}

void ComposerDlgTest::removeSelectedAttachments() {
    FileChooserScript chooser;
    CComposerDlg dlg;
    chooser.answers = {{"/f/0", "/f/1", "/f/2", "/f/3", "/f/4", "/f/5"}};
    dlg.OnAddAttachment();
    QListWidget* list = dlg.AttachmentList();

    dlg.OnRemoveAttachment();  // nothing selected
    QCOMPARE(list->count(), 6);

    // A click toggles one item and keeps the others.
    dlg.showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    for (int row : {4, 1, 3, 2, 2}) {
        QRect r = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
    QCOMPARE(list->selectedItems().size(), 3);

    dlg.OnRemoveAttachment();
    QCOMPARE(Items(list), QStringList({"/f/0", "/f/2", "/f/5"}));
}

void ComposerDlgTest::onSizeFormulas() {
    CComposerDlg dlg;
    dlg.OnSize(CComposerDlg::SizeType::Restored, 480, 452);
    QCOMPARE(dlg.Body()->geometry(), QRect(11, 171, 459, 270));  // the template's own rectangle
    QCOMPARE(dlg.Progress()->geometry(), QRect(11, 442, 459, 8));

    dlg.OnSize(CComposerDlg::SizeType::Minimized, 0, 0);
    QCOMPARE(dlg.Body()->size(), QSize(0, 0));
    QCOMPARE(dlg.Body()->pos(), QPoint(11, 171));  // position unchanged
    QCOMPARE(dlg.Progress()->geometry(), QRect(11, -10, 0, 8));

    dlg.OnSize(CComposerDlg::SizeType::Maximized, 1280, 990);
    QCOMPARE(dlg.Body()->geometry(), QRect(11, 171, 1259, 808));
    QCOMPARE(dlg.Progress()->geometry(), QRect(11, 980, 1259, 8));

    dlg.OnSize(CComposerDlg::SizeType::Restored, 480, 452);
    QCOMPARE(dlg.Body()->geometry(), QRect(11, 171, 459, 270));
}

void ComposerDlgTest::resizeFollowsFormulas() {
    CComposerDlg dlg;
    dlg.showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.resize(480, 452);
    QTRY_COMPARE(dlg.Body()->geometry(), QRect(11, 171, 459, 270));
    dlg.resize(700, 600);
    QTRY_COMPARE(dlg.Body()->size(), QSize(679, 418));
    QCOMPARE(dlg.Progress()->geometry(), QRect(11, 590, 679, 8));
}

void ComposerDlgTest::fontAppliedToWholeBody() {
    CComposerDlg dlg;
    QTextEdit* body = dlg.Body();
    body->setPlainText(QStringLiteral("第一行 first\n第二行 second"));
    QTextCursor part = body->textCursor();
    part.setPosition(2);
    part.setPosition(5, QTextCursor::KeepAnchor);  // only part of the text is selected
    body->setTextCursor(part);

    QFont offered;
    QColor offeredColor;
    QFont chosen(QStringLiteral("DejaVu Serif"), 14);
    chosen.setBold(true);
    chosen.setItalic(true);
    chosen.setUnderline(true);
    chosen.setStrikeOut(true);
    FontChooserFunction previous = SetFontChooserFunction([&](QWidget*, QFont& font, QColor& color) {
        offered = font;
        offeredColor = color;
        font = chosen;
        color = QColor(200, 10, 20);
        return true;
    });
    dlg.OnFont();
    SetFontChooserFunction(previous);

    // The window started from the body's current format.
    QCOMPARE(offered.family(), body->font().family());
    QCOMPARE(offeredColor, QColor(Qt::black));

    int checked = 0;
    for (QTextBlock block = body->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            QCOMPARE(f.fontFamilies().toStringList().value(0), QStringLiteral("DejaVu Serif"));
            QCOMPARE(f.fontPointSize(), 14.0);
            QVERIFY(f.fontWeight() >= QFont::Bold);
            QVERIFY(f.fontItalic() && f.fontUnderline() && f.fontStrikeOut());
            QCOMPARE(f.foreground().color(), QColor(200, 10, 20));
            checked += it.fragment().length();
        }
    }
    QCOMPARE(checked, body->document()->characterCount() - 2);  // every character but the two line ends
    QCOMPARE(body->textCursor().selectedText().size(), body->document()->characterCount() - 1);

    // Cancel leaves everything as it is.
    previous = SetFontChooserFunction([](QWidget*, QFont& font, QColor&) {
        font = QFont(QStringLiteral("DejaVu Sans"), 30);
        return false;
    });
    dlg.OnFont();
    SetFontChooserFunction(previous);
    QCOMPARE(body->currentCharFormat().fontPointSize(), 14.0);
}

void ComposerDlgTest::fontWindowAddsStyleAndColour() {
    // The CJK face has a single style: bold and italic still come through, and so does the colour.
    QFont start(QStringLiteral("WenQuanYi Micro Hei"), 11);
    start.setBold(true);
    CFontDlg dlg(start, QColor(0, 128, 0));
    QVERIFY(dlg.SelectedFont().bold());
    QVERIFY(!dlg.SelectedFont().italic());
    QCOMPARE(dlg.SelectedFont().pointSize(), 11);
    QCOMPARE(dlg.SelectedColor(), QColor(0, 128, 0));

    QFont other(QStringLiteral("WenQuanYi Micro Hei"), 16);
    other.setItalic(true);
    other.setStrikeOut(true);
    dlg.SetSelectedFont(other);
    dlg.SetSelectedColor(QColor(1, 2, 3));
    QVERIFY(!dlg.SelectedFont().bold());
    QVERIFY(dlg.SelectedFont().italic());
    QVERIFY(dlg.SelectedFont().strikeOut());
    QCOMPARE(dlg.SelectedFont().pointSize(), 16);
    QCOMPARE(dlg.SelectedColor(), QColor(1, 2, 3));
}

void ComposerDlgTest::formatsCapturedForTheMail_data() {
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<bool>("strike");
    QTest::addColumn<double>("points");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<uint>("effects");
    QTest::addColumn<int>("twips");
    QTest::addColumn<uint>("colorref");

    QTest::newRow("plain") << false << false << false << false << 9.0 << QColor(Qt::black) << 0u << 180 << 0u;
    QTest::newRow("all effects") << true << true << true << true << 12.0 << QColor(255, 0, 0) << 15u << 240 << 0xFFu;
    QTest::newRow("half points") << false << true << false << true << 10.5 << QColor(0x12, 0x34, 0x56) << 10u << 210
                                 << 0x563412u;
}

void ComposerDlgTest::formatsCapturedForTheMail() {
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    QFETCH(bool, underline);
    QFETCH(bool, strike);
    QFETCH(double, points);
    QFETCH(QColor, color);
    QFETCH(uint, effects);
    QFETCH(int, twips);
    QFETCH(uint, colorref);

    QFont font(QStringLiteral("文泉驿微米黑"));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(strike);
    const CharFormat cf = CharFormatFromQt(QtCharFormat(font, color), QFont());
    QCOMPARE(QString::fromStdString(cf.szFaceName), QStringLiteral("文泉驿微米黑"));
    QCOMPARE(cf.yHeight, twips);
    QCOMPARE(cf.dwEffects, effects);
    QCOMPARE(cf.crTextColor, colorref);
    QCOMPARE(FromColorRef(colorref), color.toRgb());
}

void ComposerDlgTest::stepCount_data() {
    QTest::addColumn<int>("attachments");
    QTest::addColumn<int>("steps");
    QTest::newRow("none") << 0 << 6;
    QTest::newRow("three") << 3 << 9;
}

void ComposerDlgTest::stepCount() {
    QFETCH(int, attachments);
    QFETCH(int, steps);

    QTemporaryDir dir;
    FileChooserScript chooser;
    MessageRecorder boxes;
    CComposerDlg dlg;
    ScriptedDelivery delivery;
    dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
    FillValid(dlg);
    QStringList files;
    for (int i = 0; i < attachments; ++i) {
        files << dir.filePath(QStringLiteral("附件%1.txt").arg(i));
        std::ofstream(files.back().toStdString()) << "attachment " << i << "\n";
    }
    chooser.answers = {files};
    dlg.OnAddAttachment();

    dlg.OnSend();
    QVERIFY(!dlg.SendButton()->isEnabled());
    QVERIFY(dlg.Progress()->isVisible() || !dlg.isVisible());
    QCOMPARE(dlg.Progress()->maximum(), steps);
    QCOMPARE(dlg.Draft().m_nExpectedSteps, steps);

    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
    QCOMPARE(delivery.windows, 1);
    QCOMPARE(delivery.progressAtDelivery, steps);
    QCOMPARE(delivery.recipients, std::vector<std::string>({"a@one.example", "b@two.example"}));
    QVERIFY(!delivery.message.empty());
    QVERIFY(dlg.Progress()->isHidden());
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("发送完毕"));
    QCOMPARE(boxes.messages[0].caption, QStringLiteral("信息"));
    QVERIFY(boxes.messages[0].icon == MessageIcon::Information);
}

void ComposerDlgTest::longFieldsAreNotCut() {
    // A line edit's own limit is 32,767 characters; an address list of thousands of entries passes it.
    QString to;
    std::vector<std::string> addresses;
    for (int i = 0; to.size() < 40000; ++i) {
        addresses.push_back("u" + std::to_string(i) + "@ok.test");
        to += QString::fromStdString(addresses.back()) + QLatin1Char(';');
    }
    MessageRecorder boxes;
    CComposerDlg dlg;
    ScriptedDelivery delivery;
    dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
    FillValid(dlg);
    for (int id : {1000, 1002, 1003, 1004}) {
        dlg.Field(id)->setText(QString(40000, QLatin1Char('x')));
        QCOMPARE(dlg.Field(id)->text().size(), 40000);
    }
    dlg.Field(1000)->setText(QStringLiteral("我@example.cn"));
    dlg.Field(1002)->clear();
    dlg.Field(1003)->clear();
    dlg.Field(1001)->setText(to);
    QCOMPARE(dlg.Field(1001)->text(), to);

    dlg.OnSend();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
    QCOMPARE(delivery.windows, 1);
    QCOMPARE(delivery.recipients, addresses);
    QVERIFY(delivery.message.find(" " + addresses.back() + "\r\n") != std::string::npos);
    QCOMPARE(dlg.Draft().m_strSubject.size(), std::size_t{40000});  // what the header was written from
}

void ComposerDlgTest::reportListsFailures() {
    MessageRecorder boxes;
    CComposerDlg dlg;
    ScriptedDelivery delivery;
    delivery.failures = {{"b@two.example", "550 no such user\r\n"},
                         {"c@three.example", "450 try later\r\n", FailureKind::Temporary}};
    dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
    FillValid(dlg);
    dlg.OnSend();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("以下邮件地址不能正确投递\r\n\r\nb@two.example\r\n失败原因：550 no such "
                                                    "user\r\n\r\n\r\n"
                                                    "以下邮件地址暂时未能投递，将自动重试：\r\n\r\nc@three.example\r\n"
                                                    "失败原因：450 try later\r\n\r\n\r\n"));
    QCOMPARE(boxes.messages[0].caption, QStringLiteral("信息"));
    QVERIFY(boxes.messages[0].icon == MessageIcon::Exclamation);

    // The message stays composed and can go again.
    boxes.messages.clear();
    dlg.OnSend();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
    QCOMPARE(delivery.windows, 2);
    QCOMPARE(boxes.messages.size(), std::size_t{1});
}

void ComposerDlgTest::editsDuringSendDoNotReachIt() {
    QTemporaryDir dir;
    const QString extra = dir.filePath(QStringLiteral("late.txt"));
    std::ofstream(extra.toStdString()) << "late\n";
    FileChooserScript chooser;
    MessageRecorder boxes;
    CComposerDlg dlg;
    ScriptedDelivery delivery;
    dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
    FillValid(dlg);

    dlg.OnSend();
    // Edited while the worker runs: an extra attachment would make one step more than expected.
    chooser.answers = {{extra}};
    dlg.OnAddAttachment();
    dlg.Field(1001)->setText(QStringLiteral("other@three.example"));
    dlg.Field(1000)->setText(QStringLiteral("changed@example.cn"));

    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
    QCOMPARE(delivery.windows, 1);
    QCOMPARE(delivery.recipients, std::vector<std::string>({"a@one.example", "b@two.example"}));
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("发送完毕"));
}

void ComposerDlgTest::destroyedDuringSend() {
    // A large attachment keeps the worker busy; the window goes away under it.
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big.bin"));
    {
        std::ofstream out(big.toStdString(), std::ios::binary);
        std::string block(1 << 20, 'x');
        for (int i = 0; i < 8; ++i) out << block;
    }
    FileChooserScript chooser;
    MessageRecorder boxes;
    ScriptedDelivery delivery;
    for (int waitForFirstStep : {0, 1}) {
        auto dlg = std::make_unique<CComposerDlg>();
        dlg->SetSendingDlgFactory(delivery.Factory(dlg.get()));
        FillValid(*dlg);
        chooser.answers = {{big}};
        dlg->OnAddAttachment();
        dlg->OnSend();
        if (waitForFirstStep) QTRY_VERIFY(dlg->Progress()->value() >= 1);
        QElapsedTimer timer;
        timer.start();
        dlg.reset();
        QVERIFY2(timer.elapsed() < 10000, "destroying the window waited too long for the worker");
        QCoreApplication::processEvents();
        // Gone before its first step was taken: nothing of the send reached the user.
        if (!waitForFirstStep) QCOMPARE(delivery.windows, 0);
    }
}

void ComposerDlgTest::closing_data() {
    QTest::addColumn<QString>("how");    // "escape" or "close"
    QTest::addColumn<bool>("sending");   // Send pressed just before
    QTest::addColumn<int>("answer");     // to the question: 1 yes, 0 no, -1 none expected
    QTest::addColumn<bool>("ends");      // the window closes and ends
    QTest::addColumn<int>("deliveries");  // delivery windows opened in the end
    QTest::newRow("escape") << "escape" << false << -1 << false << 0;
    QTest::newRow("escape while sending") << "escape" << true << -1 << false << 1;
    QTest::newRow("close box") << "close" << false << -1 << true << 0;
    QTest::newRow("close box while sending, no") << "close" << true << 0 << false << 1;
    QTest::newRow("close box while sending, yes") << "close" << true << 1 << true << 0;
}

void ComposerDlgTest::closing() {
    QFETCH(QString, how);
    QFETCH(bool, sending);
    QFETCH(int, answer);
    QFETCH(bool, ends);
    QFETCH(int, deliveries);
    MessageRecorder boxes;
    test::QuestionScript questions;
    if (answer >= 0) questions.answers = {answer == 1};
    QTemporaryDir kept;
    CComposerDlg dlg(nullptr, {kept.filePath(QStringLiteral("draft")).toStdString(), {}});
    ScriptedDelivery delivery;
    dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
    bool ended = false;
    connect(&dlg, &CComposerDlg::ended, this, [&] { ended = true; });
    FillValid(dlg);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    if (sending) dlg.OnSend();
    if (how == "escape")
        QTest::keyClick(&dlg, Qt::Key_Escape);
    else
        dlg.close();  // before any step has been taken
    QCOMPARE(dlg.isVisible(), !ends);
    QCOMPARE(questions.asked,
             std::vector<QString>(answer >= 0 ? 1 : 0, QString::fromUtf8(kCancelSendQuestion)));
    if (sending) QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
    QCOMPARE(delivery.windows, deliveries);
    QTRY_COMPARE(ended, ends);
    // The letter as it was at the close is the draft, whatever happened to the send.
    if (ends) {
        const DraftStore::Loaded draft = DraftStore(kept.filePath(QStringLiteral("draft")).toStdString(), {}).Load();
        QCOMPARE(int(draft.found), int(DraftStore::Found::Unsent));
        QCOMPARE(draft.draft.m_strBody, std::string("你好"));
    }
    if (deliveries == 0) QVERIFY(boxes.messages.empty());  // no report for a send given up
}

void ComposerDlgTest::aboutBox() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("关于 VoxLetter"));
    QCOMPARE(about.InfoLabel()->text(),
             QStringLiteral("VoxLetter语音邮件2.0\n\n") + QString::fromUtf8(kMakerCredit));
    QCOMPARE(about.width(), 353);
    QVERIFY(about.height() >= 83);
    QVERIFY(about.InfoLabel()->geometry().bottom() < about.height());
}

void ComposerDlgTest::relaySettingsFile_data() {
    QTest::addColumn<int>("mode");  // of relay.conf; 0: no file
    QTest::addColumn<QString>("pane");
    QTest::addColumn<QString>("relay");
    QTest::newRow("none") << 0 << QString() << QString();
    QTest::newRow("private") << 0600 << QStringLiteral("发信中继：邮件经relay.example:465发送")
                             << QStringLiteral("relay.example:465");
    QTest::newRow("readable by others") << 0644 << QStringLiteral("发信中继设置无法使用") << QString();
}

void ComposerDlgTest::relaySettingsFile() {
    QFETCH(int, mode);
    QFETCH(QString, pane);
    QFETCH(QString, relay);
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (mode != 0) {
        QDir(config.path()).mkpath(QStringLiteral("voxletter"));
        const std::string conf = config.filePath(QStringLiteral("voxletter/relay.conf")).toStdString();
        std::ofstream(conf) << "host = relay.example:465\nuser = me\npassword = pw\n";
        ::chmod(conf.c_str(), static_cast<mode_t>(mode));
    }
    MessageRecorder boxes;
    CComposerDlg dlg;
    ScriptedDelivery delivery;
    dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
    FillValid(dlg);
    dlg.OnSend();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
    qputenv("XDG_CONFIG_HOME", previous);

    QCOMPARE(dlg.InfoPane()->text().contains(QStringLiteral("发信中继")), !pane.isEmpty());
    if (!pane.isEmpty()) QVERIFY2(dlg.InfoPane()->text().contains(pane), qPrintable(dlg.InfoPane()->text()));
    // A file that may not be used stops the send with its reason; it never turns into direct delivery.
    QCOMPARE(delivery.windows, mode == 0644 ? 0 : 1);
    QCOMPARE(QString::fromStdString(delivery.relay), relay);
    if (delivery.windows == 1) QCOMPARE(delivery.sender, dlg.Draft().m_strFrom);
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].caption, mode == 0644 ? QStringLiteral("错误") : QStringLiteral("信息"));
}

// The route link and the send follow 发件人: its account (the password asked when the keyring has none),
// else direct, with the DMARC warning of a reject domain said once per address.
void ComposerDlgTest::routeOfTheSender() {
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QDir().mkpath(config.path() + "/voxletter");
    QFile conf(config.path() + "/voxletter/accounts.conf");
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[acct@example.cn]\nhost = smtp.example.cn\nport = 465\nsecurity = TLS\nuser = acct@example.cn\n");
    conf.close();
    std::vector<std::string> looked;
    SetDmarcLookupFunction([&](const std::string& domain) {
        looked.push_back(domain);
        return domain == "reject.example" ? std::optional<DmarcPolicy>(DmarcPolicy::Reject) : std::nullopt;
    });
    QStringList asked;
    int answer = 2;
    const ChoiceAnswerFunction previousChoice = SetChoiceAnswerFunction([&](const QString& text, const QStringList&) {
        asked << text;
        return answer;
    });
    MessageRecorder boxes;
    CComposerDlg dlg;
    ScriptedDelivery delivery;
    dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
    auto keyring = std::make_shared<vox::test::MemoryKeyring>();
    keyring->unavailable = true;
    dlg.SetKeyring(keyring);
    int prompts = 0;
    dlg.SetPasswordPrompt([&](QWidget*, const QString&) {
        ++prompts;
        return std::optional<QString>(QStringLiteral("typed"));
    });
    FillValid(dlg);
    auto send = [&](const char* from) {
        dlg.Field(1000)->setText(QString::fromUtf8(from));
        dlg.OnSend();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled(), 20000);
    };

    send("acct@example.cn");
    QVERIFY(dlg.RouteLink()->text().contains(QStringLiteral("smtp.example.cn")));
    QCOMPARE(delivery.windows, 1);
    QCOMPARE(delivery.relay, std::string("smtp.example.cn:465"));
    QCOMPARE(delivery.password, std::string("typed"));
    QCOMPARE(delivery.passwordSource, std::string("keyring:acct@example.cn"));
    QCOMPARE(prompts, 1);
    QVERIFY(looked.empty());

    send("me@reject.example");  // 停止
    QVERIFY(dlg.RouteLink()->text().contains(QStringLiteral("直接投递")));
    QCOMPARE(delivery.windows, 1);
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked[0].contains(QStringLiteral("“reject”")) && asked[0].contains(QStringLiteral("拒收")));
    send("me@reject.example");  // said once: sent
    QCOMPARE(asked.size(), 1);
    QCOMPARE(delivery.windows, 2);
    QCOMPARE(delivery.relay, std::string());
    answer = 1;  // 仍然发送
    send("other@reject.example");
    QCOMPARE(asked.size(), 2);
    QCOMPARE(delivery.windows, 3);
    send("me@fine.example");
    QCOMPARE(asked.size(), 2);
    QCOMPARE(delivery.windows, 4);
    QCOMPARE(looked, (std::vector<std::string>{"reject.example", "reject.example", "fine.example"}));

    SetChoiceAnswerFunction(previousChoice);
    SetDmarcLookupFunction([](const std::string&) { return std::optional<DmarcPolicy>(); });
    qputenv("XDG_CONFIG_HOME", previous);
}

// A report that says port 25 seems blocked offers the window 发件账户 beside 确定 (through the one message
// box function); choosing it opens the window for 发件人, 确定 does not. Any other report is a plain box.
void ComposerDlgTest::blockedPortOffersTheAccountWindow() {
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const struct {
        bool portBlocked;
        int answer;  // the index of the button pressed
        bool opens;
    } cases[] = {{true, 0, true}, {true, 1, false}, {false, 0, false}};
    for (const auto& c : cases) {
        MessageRecorder boxes;
        QStringList offered;
        const ChoiceAnswerFunction before = SetChoiceAnswerFunction([&](const QString&, const QStringList& choices) {
            offered = choices;
            return c.answer;
        });
        CComposerDlg dlg;
        ScriptedDelivery delivery;
        delivery.failures = {{"a@one.example", "无法连接对方服务器", FailureKind::Temporary},
                             {"b@two.example", "无法连接对方服务器", FailureKind::Temporary}};
        delivery.portBlocked = c.portBlocked;
        dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
        AccountServices services;
        services.keyring = std::make_shared<vox::test::MemoryKeyring>();
        services.accountsFile = (config.path() + "/accounts.conf").toStdString();
        dlg.SetAccountServices(services);
        FillValid(dlg);
        // The account window is modal: it is noted and closed as soon as it is up.
        QStringList opened;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* account = qobject_cast<CAccountDlg*>(QApplication::activeModalWidget());
            if (account == nullptr) return;
            for (const QLabel* label : account->findChildren<QLabel*>())
                if (label->text().startsWith(QStringLiteral("发件人："))) opened << label->text();
            account->reject();
        });
        poll.start(20);
        dlg.OnSend();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled() && delivery.windows == 1, 20000);
        if (c.opens) QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty(), 5000);
        QTest::qWait(200);  // time for a window that should not open
        SetChoiceAnswerFunction(before);
        QCOMPARE(opened, c.opens ? QStringList{QStringLiteral("发件人：我@example.cn")} : QStringList{});
        QCOMPARE(offered, c.portBlocked ? (QStringList{QStringLiteral("发件账户…"), QStringLiteral("确定")}) : QStringList{});
        QCOMPARE(boxes.messages.size(), std::size_t{1});
        QCOMPARE(boxes.messages[0].text.endsWith(QString::fromUtf8(kReportPortBlocked)), c.portBlocked);
        QVERIFY(boxes.messages[0].icon == MessageIcon::Exclamation);
    }
    qputenv("XDG_CONFIG_HOME", previous);
}

void ComposerDlgTest::initTestCase() {
    // The composer tries its outbox from the start: this test's own, never the user's.
    static QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    // The sends here go nowhere: the sender domain's DMARC policy is not asked of the network.
    vox::SetDmarcLookupFunction([](const std::string&) { return std::optional<vox::DmarcPolicy>(); });
}

void ComposerDlgTest::outboxRoundAtStart() {
    QTemporaryDir state;
    const QByteArray previous = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    Outbox outbox;
    const std::int64_t now = std::time(nullptr);
    // One waits for its next try; one from three days ago, without a domain, is given up at its try.
    QCOMPARE(outbox.Keep("mail", "me@x.example", {}, {{"w@later.example", "450 later\r\n", FailureKind::Temporary}},
                         now),
             std::string());
    QCOMPARE(outbox.Keep("mail", "me@x.example", {}, {{"nobody", "无法连接对方服务器", FailureKind::Temporary}},
                         now - 3 * 24 * 3600),
             std::string());
    MessageRecorder boxes;
    {
        CComposerDlg dlg;
        QTRY_VERIFY_WITH_TIMEOUT(dlg.WaitingRecipients() == 1 && !dlg.IsOutboxRoundRunning(), 20000);
        QVERIFY2(dlg.InfoPane()->text().endsWith(QStringLiteral("发件箱：1个收件人等待自动重试。")),
                 qPrintable(dlg.InfoPane()->text()));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.messages.size(), std::size_t{1}, 5000);
        QCOMPARE(boxes.messages[0].text,
                 QStringLiteral("以下邮件地址不能正确投递\r\n\r\nnobody\r\n失败原因：无法获得邮件服务器\r\n\r\n"));
        QVERIFY(boxes.messages[0].icon == MessageIcon::Exclamation);
    }
    QCOMPARE(outbox.List().size(), std::size_t{1});
    qputenv("XDG_STATE_HOME", previous);
}

void ComposerDlgTest::longReportScrollsWithOkOnScreen() {
    FailureList failures;
    for (int i = 0; i < 300; ++i) failures.push_back({"u" + std::to_string(i) + "@ok.example", "550 no\r\n"});
    const QString text = QString::fromStdString(BuildReport(failures).text);
    const std::unique_ptr<QDialog> window = MakeMessageWindow(nullptr, text, QStringLiteral("信息"), MessageIcon::Exclamation);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect screen = window->screen()->availableGeometry();
    auto* ok = window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    const QRect okOnScreen(ok->mapToGlobal(QPoint(0, 0)), ok->size());
    QVERIFY2(screen.contains(okOnScreen), qPrintable(QStringLiteral("%1,%2").arg(okOnScreen.y()).arg(screen.height())));
    auto* view = window->findChild<QPlainTextEdit*>(QStringLiteral("text"));
    QVERIFY(view != nullptr);
    QVERIFY(view->verticalScrollBar()->maximum() > 0);
    QCOMPARE(view->toPlainText(), QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ok->click();
    QVERIFY(!window->isVisible());
    // A short text stays an ordinary box.
    QVERIFY(qobject_cast<QMessageBox*>(
        MakeMessageWindow(nullptr, QStringLiteral("发送完毕"), QStringLiteral("信息"), MessageIcon::Information).get()));
    // A question as tall scrolls too, its choices in place of OK: each ends the window with its own result
    // (index + 1; closing gives 0, which AskMessage takes as the last choice).
    const QStringList choices{QStringLiteral("发件账户…"), QStringLiteral("确定")};
    for (int i = 0; i < choices.size(); ++i) {
        const std::unique_ptr<QDialog> asking =
            MakeMessageWindow(nullptr, text, QStringLiteral("信息"), MessageIcon::Exclamation, choices);
        QVERIFY(qobject_cast<QMessageBox*>(asking.get()) == nullptr);
        const QList<QAbstractButton*> buttons = asking->findChild<QDialogButtonBox*>()->buttons();
        QCOMPARE(buttons.size(), choices.size());
        QCOMPARE(buttons[i]->text(), choices[i]);
        QVERIFY(static_cast<QPushButton*>(buttons[0])->isDefault());
        asking->show();
        buttons[i]->click();
        QCOMPARE(asking->result(), i + 1);
    }
}

// A mail over 20 MB is announced before it goes: stop sends nothing, "send as is" sends the WAV, and
// switching to Opus sends the same draft again with the voice as Opus.
void ComposerDlgTest::sizeWarningChoices() {
    QTemporaryDir dir;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const std::string wav = dir.filePath(QStringLiteral("long.wav")).toStdString();
    // Two minutes at 44100 Hz 16-bit stereo: 21 MB of WAV, 29 MB once in the mail.
    QCOMPARE(std::system(("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 120 sine 300-900 vol 0.3").c_str()), 0);
    struct Case {
        const char* answer;
        int windows;
        std::size_t minBytes, maxBytes;
        const char* soundName;
    } cases[] = {
        {"停止", 0, 0, 0, ""},
        {"照样发送", 1, 28'000'000, 30'000'000, "long.wav"},
        {"改用Opus", 1, 400'000, 1'000'000, "Sound.opus"},
    };
    for (const Case& c : cases) {
        MessageRecorder boxes;
        QStringList offered;
        const ChoiceAnswerFunction before = SetChoiceAnswerFunction([&](const QString&, const QStringList& choices) {
            offered = choices;
            return static_cast<int>(choices.indexOf(QString::fromUtf8(c.answer)));
        });
        CComposerDlg dlg;
        ScriptedDelivery delivery;
        dlg.SetSendingDlgFactory(delivery.Factory(&dlg));
        FillValid(dlg);
        dlg.Draft().m_strSound = wav;
        dlg.OnSend();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.SendButton()->isEnabled() && !dlg.IsSending() && (c.windows == 0 || delivery.windows == c.windows), 60000);
        SetChoiceAnswerFunction(before);
        QCOMPARE(offered, (QStringList{QStringLiteral("改用Opus"), QStringLiteral("照样发送"), QStringLiteral("停止")}));
        QVERIFY2(!boxes.messages.empty(), c.answer);
        QVERIFY2(boxes.messages[0].text.startsWith(QStringLiteral("邮件大小为29.")), qPrintable(boxes.messages[0].text));
        QVERIFY2(boxes.messages[0].text.contains(QStringLiteral("很多邮件服务商拒收超过25 MB的邮件。声音改为Opus格式后约为0.")),
                 qPrintable(boxes.messages[0].text));
        QCOMPARE(delivery.windows, c.windows);
        if (c.windows == 0) continue;
        QVERIFY2(delivery.message.size() >= c.minBytes && delivery.message.size() <= c.maxBytes,
                 qPrintable(QString::number(delivery.message.size())));
        QVERIFY(delivery.message.find(std::string("filename=\"") + c.soundName + "\"") != std::string::npos);
        // The warning came once; the Opus mail is small enough to pass without one.
        QCOMPARE(boxes.messages.size(), std::size_t{2});
    }
    qputenv("XDG_CONFIG_HOME", previous);
}

QTEST_MAIN(ComposerDlgTest)
#include "composer_dlg_test.moc"
