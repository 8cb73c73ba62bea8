// The background and alignment windows: values handed in and shown, typed values read back or refused with
// the message and the focus, the mode switch, the colour picker and the file chooser, Cancel.

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <optional>

#include "dialogs/align_dlg.h"
#include "dialogs/background_dlg.h"
#include "dialogs/color_chooser.h"
#include "dialogs/data_exchange.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::MessageRecorder;

namespace {

QLineEdit* Edit(const CBackgroundDlg& dlg, int id) {
    return qobject_cast<QLineEdit*>(dlg.Control(id));
}
QAbstractButton* Button(const QDialog& dlg, int id) {
    return dlg.findChild<QAbstractButton*>(QString::number(id));
}

QString Numbers(const CBackgroundDlg& dlg) {
    return Edit(dlg, 1016)->text() + "," + Edit(dlg, 1019)->text() + "," + Edit(dlg, 1022)->text();
}

// Which of the mode's controls are enabled: "colour", "picture", or "both"/"none".
QString EnabledSide(const CBackgroundDlg& dlg) {
    bool colour = true, picture = true;
    for (int id : {1016, 1019, 1022, 1020}) colour = colour && dlg.Control(id)->isEnabled();
    for (int id : {1015, 1021}) picture = picture && dlg.Control(id)->isEnabled();
    return colour && picture ? "both" : colour ? "colour" : picture ? "picture" : "none";
}

int CheckedRadio(const QDialog& dlg) {
    for (QRadioButton* radio : dlg.findChildren<QRadioButton*>())
        if (radio->isChecked()) return radio->objectName().toInt();
    return 0;
}

const QString kNotANumber = QString::fromUtf8(kMsgEnterPositiveInteger);
const QString kOutOfRange = QString::fromUtf8(kMsgEnterByte);

}  // namespace

class StylingWindowsTest : public QObject {
    Q_OBJECT

private slots:
    void backgroundTemplate();
    void valuesShown_data();
    void valuesShown();
    void typedValuesAtOK_data();
    void typedValuesAtOK();
    void modeSwitching();
    void colourPicker();
    void pictureChooser();
    void alignment_data();
    void alignment();
};

void StylingWindowsTest::backgroundTemplate() {
    CBackgroundDlg dlg(0, kWhite, QString());
    QCOMPARE(dlg.windowTitle(), QStringLiteral("背景"));
    QCOMPARE(dlg.size(), QSize(281, 150));  // 187 by 100 units
    QCOMPARE(dlg.Control(1018)->geometry(), QRect(51, 65, 75, 18));  // 50 units wide: its caption fits
    QCOMPARE(dlg.Control(1015)->geometry(), QRect(81, 87, 120, 18));
    QCOMPARE(dlg.Control(1020)->geometry(), QRect(212, 42, 18, 18));
    QVERIFY(qobject_cast<QPushButton*>(dlg.Control(1))->isDefault());
    // Tab visits the fields and buttons; the radio buttons are reached by their mnemonics.
    QList<int> order;
    QWidget* w = dlg.Control(1016);
    for (int guard = 0; guard < 40 && order.size() < 8; ++guard, w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus) order << w->objectName().toInt();
    QCOMPARE(order, QList<int>({1016, 1019, 1022, 1020, 1015, 1021, 1, 2}));
    QVERIFY(!(dlg.Control(1017)->focusPolicy() & Qt::TabFocus));

    CAlignDlg align(1);
    QCOMPARE(align.windowTitle(), QStringLiteral("格式"));
    QCOMPARE(align.size(), QSize(281, 150));
    QCOMPARE(align.Control(1019)->geometry(), QRect(54, 81, 90, 18));  // 60 units wide: its caption fits
    QCOMPARE(Button(align, 1017)->text(), QStringLiteral("左对齐(&L)"));
}

void StylingWindowsTest::valuesShown_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<uint>("color");
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<int>("checked");
    QTest::addColumn<QString>("enabled");

    QTest::newRow("white") << 0 << 0x00FFFFFFu << "255,255,255" << 1017 << "colour";
    QTest::newRow("orange") << 0 << 0x000080FFu << "255,128,0" << 1017 << "colour";
    QTest::newRow("top byte ignored") << 0 << 0xFF563412u << "18,52,86" << 1017 << "colour";
    QTest::newRow("picture mode") << 1 << 0x00010203u << "3,2,1" << 1018 << "picture";
}

void StylingWindowsTest::valuesShown() {
    QFETCH(int, mode);
    QFETCH(uint, color);
    QFETCH(QString, numbers);
    QFETCH(int, checked);
    QFETCH(QString, enabled);
    CBackgroundDlg dlg(mode, color, QStringLiteral("/图片/海.jpg"));
    QCOMPARE(Numbers(dlg), numbers);
    QCOMPARE(CheckedRadio(dlg), checked);
    QCOMPARE(EnabledSide(dlg), enabled);
    QCOMPARE(Edit(dlg, 1015)->text(), QStringLiteral("/图片/海.jpg"));
}

void StylingWindowsTest::typedValuesAtOK_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("red");
    QTest::addColumn<QString>("green");
    QTest::addColumn<QString>("blue");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");  // empty: the window ends with OK
    QTest::addColumn<int>("focus");
    // m_crColor after OK; after a refusal the components as read: the fields before the failing one.
    QTest::addColumn<uint>("color");

    const QString thirtyOneZeros(31, '0');
    QTest::newRow("colour") << 0 << "0"
                            << "128"
                            << "255"
                            << ""
                            << "" << 0 << 0x00FF8000u;
    QTest::newRow("blanks and tabs") << 0 << " \t7 "
                                     << "\t0"
                                     << "0  "
                                     << ""
                                     << "" << 0 << 0x00000007u;
    QTest::newRow("only 31 characters read") << 0 << thirtyOneZeros + "9"
                                             << "1"
                                             << "2"
                                             << ""
                                             << "" << 0 << 0x00020100u;
    QTest::newRow("256") << 0 << "1"
                         << "256"
                         << "3"
                         << "" << kOutOfRange << 1019 << 0x00302001u;
    QTest::newRow("letter") << 0 << "x1"
                            << "2"
                            << "3"
                            << "" << kNotANumber << 1016 << 0x00302010u;
    QTest::newRow("empty") << 0 << "1"
                           << "2"
                           << ""
                           << "" << kNotANumber << 1022 << 0x00300201u;
    QTest::newRow("minus") << 0 << "-1"
                           << "2"
                           << "3"
                           << "" << kNotANumber << 1016 << 0x00302010u;
    QTest::newRow("picture keeps the colour") << 1 << ""
                                              << ""
                                              << ""
                                              << "/p/a.gif"
                                              << "" << 0 << 0x00302010u;
    QTest::newRow("picture, empty path") << 1 << ""
                                         << ""
                                         << ""
                                         << ""
                                         << "" << 0 << 0x00302010u;
}

void StylingWindowsTest::typedValuesAtOK() {
    QFETCH(int, mode);
    QFETCH(QString, red);
    QFETCH(QString, green);
    QFETCH(QString, blue);
    QFETCH(QString, path);
    QFETCH(QString, message);
    QFETCH(int, focus);
    QFETCH(uint, color);

    MessageRecorder boxes;
    CBackgroundDlg dlg(mode, 0x00302010, QStringLiteral("/old.bmp"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    if (mode == 0) {
        Edit(dlg, 1016)->setText(red);
        Edit(dlg, 1019)->setText(green);
        Edit(dlg, 1022)->setText(blue);
    } else {
        Edit(dlg, 1015)->setText(path);
    }
    QTest::mouseClick(Button(dlg, 1), Qt::LeftButton);

    const COLORREF read = dlg.m_nRed | dlg.m_nGreen << 8 | dlg.m_nBlue << 16;
    if (message.isEmpty()) {
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(boxes.messages.empty());
        QCOMPARE(dlg.m_crColor, COLORREF{color});
        QCOMPARE(dlg.m_nMode, mode);
        QCOMPARE(dlg.m_strPicture, mode == 1 ? path : QStringLiteral("/old.bmp"));
        return;
    }
    QVERIFY(dlg.isVisible());
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    QCOMPARE(boxes.messages[0].text, message);
    QVERIFY(boxes.messages[0].icon == MessageIcon::Exclamation);
    QTRY_COMPARE(QApplication::focusWidget(), dlg.Control(focus));
    QCOMPARE(Edit(dlg, focus)->selectedText(), Edit(dlg, focus)->text());
    QCOMPARE(read, COLORREF{color});
}

void StylingWindowsTest::modeSwitching() {
    MessageRecorder boxes;
    CBackgroundDlg dlg(0, 0x00FFFFFF, QString());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));

    struct Step {
        int typeRedAs;  // -1: leave the field alone
        int click;
        int checked;
        const char* enabled;
        std::size_t messages;
    };
    const Step steps[] = {
        {-1, 1018, 1018, "picture", 0},  // valid numbers: picture mode
        {-1, 1017, 1017, "colour", 0},   // back, without looking at the numbers
        {256, 1018, 1017, "colour", 1},  // refused: colour stays checked
        {255, 1018, 1018, "picture", 1},
    };
    for (const Step& step : steps) {
        if (step.typeRedAs >= 0) Edit(dlg, 1016)->setText(QString::number(step.typeRedAs));
        QTest::mouseClick(Button(dlg, step.click), Qt::LeftButton);
        QCOMPARE(CheckedRadio(dlg), step.checked);
        QCOMPARE(EnabledSide(dlg), QString::fromLatin1(step.enabled));
        QCOMPARE(boxes.messages.size(), step.messages);
    }
    QCOMPARE(boxes.messages.back().text, kOutOfRange);
}

void StylingWindowsTest::colourPicker() {
    MessageRecorder boxes;
    std::optional<QColor> answer;
    QColor offered;
    int calls = 0;
    ColorChooserFunction previous = SetColorChooserFunction([&](QWidget*, QColor& color) {
        ++calls;
        offered = color;
        if (!answer) return false;
        color = *answer;
        return true;
    });
    CBackgroundDlg dlg(0, 0x00FFFFFF, QString());

    Edit(dlg, 1016)->setText(QStringLiteral("1"));
    Edit(dlg, 1019)->setText(QStringLiteral("2"));
    Edit(dlg, 1022)->setText(QStringLiteral("3"));
    dlg.OnPickColor();  // Cancel: nothing changes
    QCOMPARE(offered, QColor(1, 2, 3));
    QCOMPARE(Numbers(dlg), QStringLiteral("1,2,3"));

    answer = QColor(10, 20, 30);
    dlg.OnPickColor();
    QCOMPARE(Numbers(dlg), QStringLiteral("10,20,30"));
    QCOMPARE(dlg.m_crColor, COLORREF{0x1E140A});

    Edit(dlg, 1022)->setText(QStringLiteral("blue"));
    dlg.OnPickColor();  // an invalid field stops before the picker
    QCOMPARE(calls, 2);
    QCOMPARE(boxes.messages.size(), std::size_t{1});
    SetColorChooserFunction(previous);
}

void StylingWindowsTest::pictureChooser() {
    QString filter;
    bool many = true;
    QStringList answer;
    FileChooserFunction previous =
        SetFileChooserFunction([&](QWidget*, const QString&, const QString& f, bool allowMany) {
            filter = f;
            many = allowMany;
            return answer;
        });
    CBackgroundDlg dlg(1, 0, QStringLiteral("/old.jpg"));
    dlg.OnBrowsePicture();  // Cancel
    QCOMPARE(Edit(dlg, 1015)->text(), QStringLiteral("/old.jpg"));
    QCOMPARE(filter, QStringLiteral("JPEG Files (*.jpg);;GIF Files (*.gif);;Bitmap Files (*.bmp);;"
                                    "Window MetaFiles(*.wmf);;All Files (*)"));
    QVERIFY(!many);

    answer = {QStringLiteral("/新/图.wmf")};
    dlg.OnBrowsePicture();
    QCOMPARE(Edit(dlg, 1015)->text(), QStringLiteral("/新/图.wmf"));
    QCOMPARE(dlg.m_strPicture, QStringLiteral("/old.jpg"));  // the member follows at the next exchange
    SetFileChooserFunction(previous);
}

void StylingWindowsTest::alignment_data() {
    QTest::addColumn<int>("given");
    QTest::addColumn<int>("checked");
    QTest::addColumn<int>("click");  // 0: none; 2: Cancel
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("alignment");

    QTest::newRow("centre shown, right chosen") << 3 << 1018 << 1019 << int(QDialog::Accepted) << 2;
    QTest::newRow("right shown, left chosen") << 2 << 1019 << 1017 << int(QDialog::Accepted) << 1;
    QTest::newRow("left kept") << 1 << 1017 << 0 << int(QDialog::Accepted) << 1;
    QTest::newRow("unknown value kept") << 7 << 0 << 0 << int(QDialog::Accepted) << 7;
    QTest::newRow("unknown value, centre chosen") << 0 << 0 << 1018 << int(QDialog::Accepted) << 3;
    QTest::newRow("cancel") << 3 << 1018 << 2 << int(QDialog::Rejected) << 3;
}

void StylingWindowsTest::alignment() {
    QFETCH(int, given);
    QFETCH(int, checked);
    QFETCH(int, click);
    QFETCH(int, result);
    QFETCH(int, alignment);
    CAlignDlg dlg(given);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(CheckedRadio(dlg), checked);
    if (click == 2) {
        QTest::mouseClick(Button(dlg, 1019), Qt::LeftButton);
        QTest::mouseClick(Button(dlg, 2), Qt::LeftButton);
    } else {
        if (click) QTest::mouseClick(Button(dlg, click), Qt::LeftButton);
        QTest::mouseClick(Button(dlg, 1), Qt::LeftButton);
    }
    QCOMPARE(dlg.result(), result);
    QCOMPARE(dlg.m_nAlignment, alignment);
}

QTEST_MAIN(StylingWindowsTest)
#include "styling_windows_test.moc"
