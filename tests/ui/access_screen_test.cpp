// Every window as assistive technology and a small, scaled screen see it. Runs at scale factors 2 and 1.5
// on a 1280 by 800 screen (640 by 400 or 853 by 533 logical pixels), where the composer's template does
// not fit: every window must lie inside the screen with nothing of its text cut, every control a
// screen reader can act on must have a name and a role, and the hand-painted parts must come out on whole
// device pixels.

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTest>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/about_dlg.h"
#include "app/composer_dlg.h"
#include "controls/hover_button.h"
#include "delivery/sending_dlg.h"
#include "dialogs/accessible_names.h"
#include "dialogs/align_dlg.h"
#include "dialogs/background_dlg.h"
#include "dialogs/dialog_units.h"
#include "dialogs/font_dlg.h"
#include "scripted_wave_device.h"
#include "sound/add_sound_dlg.h"
#include "sound/record_dlg.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::MessageRecorder;

namespace {

struct Window {
    const char* name;
    std::function<std::unique_ptr<QWidget>()> make;
};

std::unique_ptr<CRecordDlg> MakeRecordDlg() {
    auto recorder = std::make_unique<CWaveRecorder>(std::make_unique<vox::testing::ScriptedWaveDevice>());
    auto dlg = std::make_unique<CRecordDlg>(std::move(recorder));
    dlg->OnAdvanced();  // the larger size, with every control of the template showing
    return dlg;
}

const Window kWindows[] = {
    {"composer", [] { return std::make_unique<CComposerDlg>(); }},
    {"sound", [] { return std::make_unique<CAddSoundDlg>(std::string(), 0u); }},
    {"record", [] { return MakeRecordDlg(); }},
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

// Roles a person acts on or reads a value from: each of these needs a name to be told apart.
bool Actionable(QAccessible::Role role) {
    switch (role) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::EditableText:
    case QAccessible::List:
    case QAccessible::ProgressBar:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::Table:
        return true;
    default:
        return false;
    }
}

// Every visible, actionable interface under iface, depth first.
void Walk(QAccessibleInterface* iface, const std::function<void(QAccessibleInterface*)>& visit) {
    if (!iface || iface->state().invisible) return;
    visit(iface);
    for (int i = 0; i < iface->childCount(); ++i) Walk(iface->child(i), visit);
}

}  // namespace

class AccessScreenTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QApplication::setFont(DialogFont());
        const qreal ratio = QApplication::primaryScreen()->devicePixelRatio();
        QVERIFY2(ratio == 2.0 || ratio == 1.5, "run with QT_SCALE_FACTOR=2 or 1.5");
    }

    // Each window opens inside the screen's available area, and no caption or label of it is cut.
    void windowsFitTheScreen() {
        const QRect area = QApplication::primaryScreen()->availableGeometry();
        for (const Window& w : kWindows) {
            std::unique_ptr<QWidget> window = w.make();
            window->show();
            QVERIFY2(QTest::qWaitForWindowExposed(window.get()), w.name);
            // As it opens (the composer maximised) and restored, as without a window manager.
            for (bool restored : {false, true}) {
                if (restored) window->showNormal();
                QVERIFY2(area.contains(window->frameGeometry()),
                         qPrintable(QStringLiteral("%1 at %2,%3 %4x%5 on %6x%7")
                                        .arg(w.name)
                                        .arg(window->x()).arg(window->y())
                                        .arg(window->width()).arg(window->height())
                                        .arg(area.width()).arg(area.height())));
            }
            for (QWidget* child : window->findChildren<QWidget*>()) {
                if (!child->isVisibleTo(window.get()) || child->parentWidget() != window.get()) continue;
                // Push buttons have a minimum width of the style's in their size hint: their caption
                // inside the button's frame is what must fit. Hover buttons centre an overhanging caption
                // by their template.
                int needed = 0;
                if (qobject_cast<CHoverButton*>(child)) continue;
                if (auto* push = qobject_cast<QPushButton*>(child)) {
                    needed = push->fontMetrics().horizontalAdvance(SpokenCaption(push->text())) +
                             2 * push->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
                } else if (qobject_cast<QAbstractButton*>(child)) {
                    needed = child->sizeHint().width();
                } else if (auto* label = qobject_cast<QLabel*>(child);
                           label && !label->wordWrap() && !label->text().isEmpty()) {
                    needed = label->sizeHint().width();
                }
                QVERIFY2(needed <= child->width(),
                         qPrintable(QStringLiteral("%1: \"%2\" needs %3 pixels, has %4")
                                        .arg(w.name, child->property("text").toString())
                                        .arg(needed)
                                        .arg(child->width())));
            }
        }
    }

    // Every control a screen reader can act on has a role and a name; bars and the level meter carry
    // their values.
    void controlsHaveNamesAndValues() {
        for (const Window& w : kWindows) {
            std::unique_ptr<QWidget> window = w.make();
            window->show();
            QVERIFY2(QTest::qWaitForWindowExposed(window.get()), w.name);
            int actionable = 0;
            Walk(QAccessible::queryAccessibleInterface(window.get()), [&](QAccessibleInterface* iface) {
                if (!Actionable(iface->role())) return;
                ++actionable;
                const QString where = QStringLiteral("%1: %2 (role %3)")
                                          .arg(w.name, iface->object() ? iface->object()->objectName() : QString())
                                          .arg(iface->role());
                QVERIFY2(!iface->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(where + " has no name"));
                if (auto* bar = qobject_cast<QProgressBar*>(iface->object())) {
                    QAccessibleValueInterface* value = iface->valueInterface();
                    QVERIFY2(value, qPrintable(where + " tells no value"));
                    bar->setValue(bar->maximum());
                    QCOMPARE(value->currentValue().toInt(), bar->maximum());
                    QCOMPARE(value->maximumValue().toInt(), bar->maximum());
                }
            });
            QVERIFY2(actionable > 0, w.name);
        }
        // The meter shows only while capture runs; it is named and read all the same.
        std::unique_ptr<CRecordDlg> record = MakeRecordDlg();
        record->LevelMeter()->setValue(1234);
        QAccessibleInterface* meter = QAccessible::queryAccessibleInterface(record->LevelMeter());
        QCOMPARE(meter->text(QAccessible::Name), QStringLiteral("输入音量"));
        QCOMPARE(meter->valueInterface()->currentValue().toInt(), 1234);
    }

    // The hand-painted button is a push button to a screen reader: its caption (or given name), focus,
    // pressed state, and a press action that runs its command.
    void hoverButtonIsAButton() {
        CComposerDlg composer;
        composer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&composer));
        struct Case {
            int id;
            const char* name;
        } const cases[] = {{1009, "发送"}, {1006, "声音"}, {1012, "添加附件"}, {1013, "删除附件"}};
        for (const Case& c : cases) {
            auto* button = qobject_cast<CHoverButton*>(composer.Control(c.id));
            QVERIFY(button);
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
            QCOMPARE(iface->role(), QAccessible::Button);
            QCOMPARE(iface->text(QAccessible::Name), QString::fromUtf8(c.name));
            QVERIFY(iface->state().focusable);
            button->setFocus();
            QVERIFY(iface->state().focused);
            QVERIFY(!iface->state().pressed);
            button->setDown(true);
            QVERIFY(iface->state().pressed);
            button->setDown(false);
        }
        // Pressing Send through its action runs the field check, which refuses the empty sender.
        MessageRecorder messages;
        QAccessibleInterface* send = QAccessible::queryAccessibleInterface(composer.SendButton());
        QVERIFY(send->actionInterface());
        send->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(messages.messages.size(), std::size_t{1});
        QCOMPARE(messages.messages[0].caption, QStringLiteral("错误"));
    }

    // The composer starts with the focus in From; Ctrl+Return presses Send from any field, the body
    // included, and only while Send is enabled.
    void keyboardReachesSend() {
        CComposerDlg composer;
        composer.show();
        QApplication::setActiveWindow(&composer);
        QVERIFY(QTest::qWaitForWindowActive(&composer));
        QCOMPARE(QApplication::focusWidget(), composer.Field(1000));

        MessageRecorder messages;
        struct Case {
            QWidget* target;
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            bool sendEnabled;
            std::size_t refusals;
        } const cases[] = {
            {composer.Field(1000), Qt::Key_Return, Qt::ControlModifier, true, 1},
            {composer.Body(), Qt::Key_Return, Qt::ControlModifier, true, 1},
            {composer.Body(), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier, true, 1},
            {composer.Field(1004), Qt::Key_Return, Qt::ControlModifier, false, 0},
        };
        for (const Case& c : cases) {
            messages.messages.clear();
            composer.SendButton()->setEnabled(c.sendEnabled);
            c.target->setFocus();
            QTest::keyClick(c.target, c.key, c.modifiers);
            QCOMPARE(messages.messages.size(), c.refusals);
        }
        composer.SendButton()->setEnabled(true);
        // The body takes no line break from Ctrl+Return.
        QCOMPARE(composer.Body()->toPlainText(), QString());
    }

    // The hover button's frame, ring and face are drawn on whole device-pixel squares (2 by 2 at scale
    // 2, 1 by 1 at 1.5): each square one colour, the frame's top line one square thick, nothing
    // half-covered or blurred, away from the caption.
    void hoverButtonOnWholeDevicePixels() {
        CHoverButton button(QString(), nullptr);
        button.resize(60, 18);
        const QImage image = button.grab().toImage();
        const qreal ratio = button.devicePixelRatioF();
        const int unit = std::max(1, static_cast<int>(ratio + 1e-6));
        QCOMPARE(image.size(), QSize(qRound(60 * ratio), qRound(18 * ratio)));
        for (int y = 0; y + unit <= image.height(); y += unit)
            for (int x = 0; x + unit <= image.width(); x += unit) {
                const QRgb c = image.pixel(x, y);
                for (int dy = 0; dy < unit; ++dy)
                    for (int dx = 0; dx < unit; ++dx)
                        QVERIFY2(image.pixel(x + dx, y + dy) == c,
                                 qPrintable(QStringLiteral("square at %1,%2 is not one colour").arg(x).arg(y)));
            }
        const QColor frame(0x00, 0x3C, 0x74);
        for (int x = image.width() / 4; x < image.width() * 3 / 4; ++x)  // the corners are rounded
            QVERIFY2(QColor(image.pixel(x, 0)) == frame, qPrintable(QStringLiteral("frame gap at %1").arg(x)));
        QCOMPARE(QColor(image.pixel(image.width() / 2, unit - 1)), frame);
        QVERIFY(QColor(image.pixel(image.width() / 2, unit)) != frame);
    }
};

QTEST_MAIN(AccessScreenTest)
#include "access_screen_test.moc"
