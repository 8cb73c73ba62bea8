// The composer's styling: its hover buttons and their rings, Format over the whole body, Background in
// colour and picture mode as the body shows it and as the mail's page carries it, and the field check
// reopening the background window.

#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <memory>

#include "app/composer_dlg.h"
#include "compose/mail_charset.h"
#include "controls/body_edit.h"
#include "controls/hover_button.h"
#include "delivery/sending_dlg.h"
#include "dialogs/align_dlg.h"
#include "dialogs/background_dlg.h"
#include "mail_parts.h"
#include "modal_answer.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::MessageRecorder;
using vox::test::ModalAnswer;

namespace {

// Delivery that succeeds at once and keeps the mail it was given.
struct Mailbox {
    QByteArray mail;
    int sends = 0;

    CComposerDlg::SendingDlgFactory Factory() {
        return [this](const DeliveryRequest& request, QWidget* parent) {
            ++sends;
            mail = QByteArray::fromStdString(*request.message);
            return std::make_unique<CSendingDlg>(
                static_cast<int>(request.recipients.size()), 8,
                [](DeliveryObserver&, const std::atomic<bool>&, FailureList&) {}, parent);
        };
    }
};

void FillValid(CComposerDlg& dlg) {
    dlg.Field(1000)->setText(QStringLiteral("我@example.cn"));
    dlg.Field(1001)->setText(QStringLiteral("a@one.example"));
    dlg.Body()->setPlainText(QStringLiteral("第一段\nsecond paragraph\n第三段"));
}

// Sends and returns the mail's HTML page, as bytes.
QByteArray SendForPage(CComposerDlg& dlg, Mailbox& box) {
    const int before = box.sends;
    dlg.OnSend();
    if (!QTest::qWaitFor([&] { return dlg.SendButton()->isEnabled() && box.sends > before; }, 20000))
        return {};
    return test::FindPart(test::MailParts(box.mail), "content-type: text/html").body;
}

QByteArray BodyTag(const QByteArray& page) {
    const int at = page.indexOf("<BODY");
    return page.mid(at, page.indexOf('>', at) - at + 1);
}

QRgb Rgb(COLORREF c) {
    return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

}  // namespace

class ComposerStylingTest : public QObject {
    Q_OBJECT

private slots:
    // The sends here go nowhere: the sender domain's DMARC policy is not asked of the network.
    void initTestCase() {
        vox::SetDmarcLookupFunction([](const std::string&) { return std::optional<vox::DmarcPolicy>(); });
    }
    void hoverButtonRings_data();
    void hoverButtonRings();
    void formatAlignsEveryParagraph_data();
    void formatAlignsEveryParagraph();
    void backgroundColourPictureColour();
    void unreadablePictureReopensTheWindow();
};

void ComposerStylingTest::hoverButtonRings_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<uint>("top");
    QTest::addColumn<uint>("bottom");
    const uint blueTop = 0xFFE7CE, blueBottom = 0xEE8269;
    QTest::newRow("other works") << 1021 << 0xE6EBECu << 0xFBFCFCu;
    QTest::newRow("send") << 1009 << 0xC7FAE2u << 0x24EA91u;
    QTest::newRow("add") << 1012 << 0xF1C7F4u << 0xD03994u;
    QTest::newRow("remove") << 1013 << 0xF1C7F4u << 0xD03994u;
    QTest::newRow("sound") << 1006 << blueTop << blueBottom;
    QTest::newRow("font") << 1007 << blueTop << blueBottom;
    QTest::newRow("format") << 1011 << blueTop << blueBottom;
    QTest::newRow("background") << 1008 << blueTop << blueBottom;
}

void ComposerStylingTest::hoverButtonRings() {
    QFETCH(int, id);
    QFETCH(uint, top);
    QFETCH(uint, bottom);
    CComposerDlg dlg;
    auto* button = qobject_cast<CHoverButton*>(dlg.Control(id));
    QVERIFY(button);
    QImage image(button->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    button->DrawItem(painter, 0, button->rect());
    // The ring's first row carries the top colour, its last row the bottom colour.
    QCOMPARE(image.pixel(2, 1), Rgb(top));
    QCOMPARE(image.pixel(2, button->height() - 2), Rgb(bottom));
}

void ComposerStylingTest::formatAlignsEveryParagraph_data() {
    QTest::addColumn<int>("radio");  // 2: Cancel
    QTest::addColumn<QByteArray>("div");
    QTest::addColumn<int>("qtAlignment");

    QTest::newRow("centre") << 1018 << QByteArray("<DIV align=center>") << int(Qt::AlignHCenter);
    QTest::newRow("right") << 1019 << QByteArray("<DIV align=right>") << int(Qt::AlignRight);
    QTest::newRow("cancel") << 2 << QByteArray("<DIV align=left>") << int(Qt::AlignLeft);
}

void ComposerStylingTest::formatAlignsEveryParagraph() {
    QFETCH(int, radio);
    QFETCH(QByteArray, div);
    QFETCH(int, qtAlignment);

    MessageRecorder boxes;
    Mailbox box;
    CComposerDlg dlg;
    dlg.SetSendingDlgFactory(box.Factory());
    FillValid(dlg);
    QTextCursor part = dlg.Body()->textCursor();
    part.setPosition(6);
    part.setPosition(9, QTextCursor::KeepAnchor);  // inside the second paragraph only
    dlg.Body()->setTextCursor(part);

    int offered = 0;
    ModalAnswer<CAlignDlg> answer([&](CAlignDlg& align) {
        offered = align.m_nAlignment;
        if (radio != 2)
            QTest::mouseClick(align.findChild<QRadioButton*>(QString::number(radio)), Qt::LeftButton);
        QTest::mouseClick(align.findChild<QAbstractButton*>(QString::number(radio == 2 ? 2 : 1)),
                          Qt::LeftButton);
    });
    dlg.OnFormat();
    QCOMPARE(answer.opened, 1);
    QCOMPARE(offered, 1);  // the body's own alignment: left

    int blocks = 0;
    for (QTextBlock b = dlg.Body()->document()->begin(); b.isValid(); b = b.next(), ++blocks)
        QCOMPARE(int(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask), qtAlignment);
    QCOMPARE(blocks, 3);

    const QByteArray page = SendForPage(dlg, box);
    QVERIFY(page.contains(div + "\r\n"));
    // Without a font chosen the mail carries the default every sender of this program starts from.
    QVERIFY(
        page.contains("<FONT face=" + QByteArray::fromStdString(ToMailText(kDefaultFaceName)) + " size=3 "));
}

void ComposerStylingTest::backgroundColourPictureColour() {
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("瓷砖.bmp"));
    QImage tile(16, 8, QImage::Format_RGB32);
    tile.fill(qRgb(200, 30, 40));
    QVERIFY(tile.save(picture));

    MessageRecorder boxes;
    Mailbox box;
    CComposerDlg dlg;
    dlg.SetSendingDlgFactory(box.Factory());
    FillValid(dlg);
    dlg.showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    struct Step {
        const char* name;
        int radio;        // 1017 colour, 1018 picture, 2 Cancel
        const char* rgb;  // typed in colour mode
        int mode;
        COLORREF color;
        bool pathStored;
        QRgb shown;  // the body's background as drawn
        QByteArray bodyTag;
    };
    const Step steps[] = {
        {"blue", 1017, "0,0,255", 0, 0xFF0000, false, qRgb(0, 0, 255), "<BODY BGCOLOR=0000ff>"},
        {"picture", 1018, nullptr, 1, 0xFF0000, true, qRgb(200, 30, 40),
         "<BODY BACKGROUND=cid:VoxLetterYourPictue>"},
        {"cancelled", 2, "9,9,9", 1, 0xFF0000, true, qRgb(200, 30, 40),
         "<BODY BACKGROUND=cid:VoxLetterYourPictue>"},
        // The path stays stored in colour mode, for the next opening.
        {"colour again", 1017, "18,52,86", 0, 0x563412, true, qRgb(18, 52, 86), "<BODY BGCOLOR=123456>"},
        {"white", 1017, "255,255,255", 0, 0xFFFFFF, true, qRgb(255, 255, 255), "<BODY>"},
    };
    for (const Step& step : steps) {
        ModalAnswer<CBackgroundDlg> answer([&](CBackgroundDlg& bg) {
            if (step.rgb) {
                const QStringList rgb = QString::fromLatin1(step.rgb).split(',');
                const int fields[] = {1016, 1019, 1022};
                for (int i = 0; i < 3; ++i) qobject_cast<QLineEdit*>(bg.Control(fields[i]))->setText(rgb[i]);
            }
            if (step.radio != 2)
                QTest::mouseClick(bg.findChild<QRadioButton*>(QString::number(step.radio)), Qt::LeftButton);
            if (step.radio == 1018) qobject_cast<QLineEdit*>(bg.Control(1015))->setText(picture);
            QTest::mouseClick(bg.findChild<QAbstractButton*>(QString::number(step.radio == 2 ? 2 : 1)),
                              Qt::LeftButton);
        });
        dlg.OnBackground();
        QVERIFY2(answer.opened == 1 && !answer.leftOpen, step.name);

        QCOMPARE(dlg.Draft().m_nBackgroundMode, step.mode);
        QCOMPARE(dlg.Draft().m_crBackground, step.color);
        QCOMPARE(dlg.Draft().m_strPicture, step.pathStored ? picture.toStdString() : std::string());
        QCOMPARE(dlg.Body()->IsColorMode(), step.mode == 0);
        const QImage shown = dlg.Body()->viewport()->grab().toImage();
        QCOMPARE(shown.pixel(shown.width() - 3, shown.height() - 3) | 0xFF000000, step.shown);

        const QByteArray page = SendForPage(dlg, box);
        QCOMPARE(BodyTag(page), step.bodyTag);
        const bool pictureSent =
            !test::FindPart(test::MailParts(box.mail), "<VoxLetterYourPictue>").body.isEmpty();
        QCOMPARE(pictureSent, step.mode == 1);
    }
    QVERIFY(boxes.messages.size() == 5);  // the five reports, no other message
}

void ComposerStylingTest::unreadablePictureReopensTheWindow() {
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("没有.jpg"));
    MessageRecorder boxes;
    Mailbox box;
    CComposerDlg dlg;
    dlg.SetSendingDlgFactory(box.Factory());
    FillValid(dlg);

    // The picture does not load: the loader says so, and the choice stays stored.
    {
        ModalAnswer<CBackgroundDlg> choose([&](CBackgroundDlg& bg) {
            QTest::mouseClick(bg.findChild<QRadioButton*>(QStringLiteral("1018")), Qt::LeftButton);
            qobject_cast<QLineEdit*>(bg.Control(1015))->setText(missing);
            QTest::mouseClick(bg.findChild<QAbstractButton*>(QStringLiteral("1")), Qt::LeftButton);
        });
        dlg.OnBackground();
    }
    QCOMPARE(dlg.Draft().m_nBackgroundMode, 1);
    QCOMPARE(QString::fromStdString(dlg.Draft().m_strPicture), missing);
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("无法打开文件"));

    // Send refuses and opens the window with the stored choice; choosing a colour there does not send.
    boxes.messages.clear();
    int shownMode = -1;
    QString shownPath;
    ModalAnswer<CBackgroundDlg> reopened([&](CBackgroundDlg& bg) {
        shownMode = bg.findChild<QRadioButton*>(QStringLiteral("1018"))->isChecked() ? 1 : 0;
        shownPath = qobject_cast<QLineEdit*>(bg.Control(1015))->text();
        QTest::mouseClick(bg.findChild<QRadioButton*>(QStringLiteral("1017")), Qt::LeftButton);
        QTest::mouseClick(bg.findChild<QAbstractButton*>(QStringLiteral("1")), Qt::LeftButton);
    });
    dlg.OnSend();
    QCOMPARE(reopened.opened, 1);
    QCOMPARE(shownMode, 1);
    QCOMPARE(shownPath, missing);
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, QStringLiteral("无法访问到背景图片文件"));
    QVERIFY(dlg.SendButton()->isEnabled());
    QCOMPARE(box.sends, 0);

    // Now in colour mode, the next Send goes.
    QCOMPARE(dlg.Draft().m_nBackgroundMode, 0);
    QVERIFY(!SendForPage(dlg, box).isEmpty());
}

QTEST_MAIN(ComposerStylingTest)
#include "composer_styling_test.moc"
