// The hover button's pictures, compared pixel by pixel with pictures built here from the drawing rules:
// frame and corners, face and ring rows, focus dots, the disabled look, at several sizes and at two device
// pixel ratios; and how the look follows the pointer, the focus and the press.

#include "controls/hover_button.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>
#include <array>
#include <optional>
#include <set>
#include <vector>

using namespace vox;

namespace {

enum class Look { Normal, Hover, Pressed, Disabled, Focused };

constexpr QRgb kMarker = 0xFF123456;  // what the button leaves alone keeps this

QRgb Rgb(COLORREF c) {
    return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// Entry i of an n-entry gradient, worked out channel by channel.
QRgb GradientEntry(COLORREF first, COLORREF last, int n, int i) {
    if (i == n - 1) return Rgb(last);
    int out[3];
    for (int ch = 0; ch < 3; ++ch) {
        const int a = (first >> (8 * ch)) & 0xFF, b = (last >> (8 * ch)) & 0xFF;
        out[ch] = a + i * ((b - a) / n);
    }
    return qRgb(out[0], out[1], out[2]);
}

// The expected picture: colour per logical pixel, and where the text may cover what was drawn before it.
struct Expected {
    QImage image;
    QImage textMask;  // 1 where the text box lies over something drawn before the text
    QRect textBox;
};

Expected BuildExpected(Look look, int w, int h, const QString& text, const QFont& font,
                       COLORREF ringTop = 0xFFE7CE, COLORREF ringBottom = 0xEE8269) {
    Expected e{QImage(w, h, QImage::Format_RGB32), QImage(w, h, QImage::Format_Mono), {}};
    e.image.fill(kMarker);
    e.textMask.fill(0);
    const bool disabled = look == Look::Disabled;
    const bool frameOnly = h <= 6;

    // Frame: the four corners stay untouched.
    const std::set<std::pair<int, int>> softening = {{1, 0},         {0, 1},         {w - 2, 0}, {w - 1, 1},
                                                     {w - 2, h - 1}, {w - 1, h - 2}, {1, h - 1}, {0, h - 2}};
    const std::set<std::pair<int, int>> diagonal = {
        {0, 2},         {1, 1},         {2, 0},         {w - 1, 2}, {w - 2, 1}, {w - 3, 0},
        {w - 1, h - 3}, {w - 2, h - 2}, {w - 3, h - 1}, {0, h - 3}, {1, h - 2}, {2, h - 1}};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            QRgb c = kMarker;
            if (diagonal.count({x, y}))
                c = Rgb(disabled ? 0x92A1A1 : 0x854D27);
            else if (softening.count({x, y}))
                c = Rgb(disabled ? 0x92A1A1 : 0xA78E6E);
            else if (border && (y == 0 || y == h - 1) && x >= 3 && x <= w - 4)
                c = Rgb(disabled ? 0x92A1A1 : 0x743C00);
            else if (border && (x == 0 || x == w - 1) && y >= 3 && y <= h - 4)
                c = Rgb(disabled ? 0x92A1A1 : 0x743C00);
            if (c != kMarker) e.image.setPixel(x, y, c);
        }
    }
    if (frameOnly) return e;

    const QFontMetrics metrics(font);
    const int offset = look == Look::Pressed ? 1 : 0;
    e.textBox = QRect((w - metrics.horizontalAdvance(text)) / 2 + offset, (h - metrics.height()) / 2 + offset,
                      metrics.horizontalAdvance(text), metrics.height());
    const QRect masked = text.isEmpty() ? QRect() : e.textBox.adjusted(-1, 0, 1, 0);

    for (int y = 1; y <= h - 2; ++y) {
        for (int x = 1; x <= w - 2; ++x) {
            if (diagonal.count({x, y})) continue;
            const bool ring = ((y == 1 || y == h - 2) && x >= 2 && x <= w - 3) ||
                              ((y == 2 || y == h - 3) && x >= 1 && x <= w - 2) || x == 1 || x == 2 ||
                              x == w - 3 || x == w - 2;
            QRgb c;
            bool underText;
            if (disabled) {
                c = Rgb(0xFBFCFC);
                underText = true;
            } else if (!ring) {
                c = look == Look::Pressed ? Rgb(0xFBFCFC) : GradientEntry(0xFBFCFC, 0xE6EBEC, h - 6, y - 3);
                underText = true;
            } else {
                underText = look == Look::Pressed;  // the other looks draw their ring after the text
                if (look == Look::Pressed)
                    c = GradientEntry(0xC1CCD1, 0xEEF2F2, h - 2, y - 1);
                else if (look == Look::Hover)
                    c = GradientEntry(0xCFF0FF, 0x0097E5, h - 2, y - 1);
                else
                    c = GradientEntry(ringTop, ringBottom, h - 2, y - 1);
            }
            e.image.setPixel(x, y, c);
            if (underText && masked.contains(x, y)) e.textMask.setPixel(x, y, 1);
        }
    }

    // Focus dots come last: every second position of one walk round the rectangle 3 pixels inside.
    if (look == Look::Pressed || look == Look::Focused) {
        const int l = 3, t = 3, r = w - 3, b = h - 3;
        std::vector<QPoint> walk;
        for (int x = l; x < r; ++x) walk.emplace_back(x, t);
        for (int y = t; y < b; ++y) walk.emplace_back(r - 1, y);
        for (int x = r - 1; x >= l; --x) walk.emplace_back(x, b - 1);
        for (int y = b - 1; y >= t; --y) walk.emplace_back(l, y);
        for (std::size_t k = 1; k < walk.size(); k += 2) {
            e.image.setPixel(walk[k], qRgb(0, 0, 0));
            e.textMask.setPixel(walk[k], 0);
        }
    }
    return e;
}

// The button as it paints itself, into an image of its logical size times dpr.
QImage Render(CHoverButton& button, qreal dpr) {
    QImage image(button.size() * dpr, QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(kMarker);
    button.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// Every device pixel of a logical pixel must have the expected colour, except under the text box.
QString Compare(const QImage& actual, const Expected& e, qreal dpr) {
    const int scale = qRound(dpr);
    for (int y = 0; y < e.image.height(); ++y) {
        for (int x = 0; x < e.image.width(); ++x) {
            if (e.textMask.pixelIndex(x, y)) continue;
            for (int dy = 0; dy < scale; ++dy) {
                for (int dx = 0; dx < scale; ++dx) {
                    const QRgb got = actual.pixel(x * scale + dx, y * scale + dy) | 0xFF000000;
                    if (got != e.image.pixel(x, y))
                        return QStringLiteral("pixel (%1, %2): got %3, expected %4")
                            .arg(x)
                            .arg(y)
                            .arg(got, 8, 16)
                            .arg(e.image.pixel(x, y), 8, 16);
                }
            }
        }
    }
    return {};
}

// The box of pixels under the text that differ clearly from what lies below them.
QRect InkBox(const QImage& actual, const Expected& e) {
    QRect ink;
    for (int y = 0; y < e.image.height(); ++y)
        for (int x = 0; x < e.image.width(); ++x)
            if (e.textMask.pixelIndex(x, y) && qGray(actual.pixel(x, y)) < qGray(e.image.pixel(x, y)) - 60)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

struct Stage {
    QWidget window;
    CHoverButton* button;
    QPushButton* other;

    Stage(int w, int h, const QString& text) {
        window.resize(w + 60, h + 60);
        button = new CHoverButton(text, &window);
        button->setGeometry(20, 20, w, h);
        other = new QPushButton(QStringLiteral("x"), &window);
        other->setGeometry(0, h + 40, 20, 20);
        window.show();
    }

    // The pointer is left away from the button, where the next test's window will not light it up.
    ~Stage() { QTest::mouseMove(&window, QPoint(1, 1)); }

    // Active, with the focus on the other button.
    bool Ready() {
        if (!QTest::qWaitForWindowActive(&window)) return false;
        other->setFocus();
        return QTest::qWaitFor([this] { return other->hasFocus(); }) &&
               button->DrawState() != CHoverButton::kHover;
    }
};

}  // namespace

class HoverButtonTest : public QObject {
    Q_OBJECT

private slots:
    void gradient_data();
    void gradient();
    void looks_data();
    void looks();
    void drawStateTable_data();
    void drawStateTable();
    void setColorsRebuildsOnlyTheNormalRing();
    void pointerFollowedWithoutGrab();
};

void HoverButtonTest::gradient_data() {
    QTest::addColumn<uint>("first");
    QTest::addColumn<uint>("last");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("expected");

    // Red 252 -> 236 over 14: step -16/14 = -1, so entry 12 has red 240 and the last entry jumps to 236.
    QTest::newRow("face entry 0") << 0xE6EBECu << 0xE6EBECu << 1 << 0 << 0xE6EBECu;
    QTest::newRow("face entry 12") << 0xFBFCFCu << 0xE6EBECu << 14 << 12 << 0xEFF0F0u;
    QTest::newRow("face last exact") << 0xFBFCFCu << 0xE6EBECu << 14 << 13 << 0xE6EBECu;
    // Falling and rising channels, steps truncated toward zero on both sides.
    QTest::newRow("hover entry 16") << 0xCFF0FFu << 0x0097E5u << 18 << 16 << 0x1FB0EFu;
    QTest::newRow("pressed entry 16") << 0xC1CCD1u << 0xEEF2F2u << 18 << 16 << 0xE1ECE1u;
    QTest::newRow("rising and falling") << 0x00FF00u << 0xFF0000u << 7 << 5 << 0xB44B00u;
    QTest::newRow("single entry is last") << 0x000000u << 0xFFFFFFu << 1 << 0 << 0xFFFFFFu;
    QTest::newRow("step smaller than one") << 0x000000u << 0x050505u << 10 << 8 << 0x000000u;
}

void HoverButtonTest::gradient() {
    QFETCH(uint, first);
    QFETCH(uint, last);
    QFETCH(int, n);
    QFETCH(int, index);
    QFETCH(uint, expected);
    std::vector<COLORREF> table(static_cast<std::size_t>(n) + 1, 0xDEADBEEF);
    MakeGradient(first, last, n, table.data());
    QCOMPARE(table[static_cast<std::size_t>(index)], COLORREF{expected});
    QCOMPARE(table[static_cast<std::size_t>(n)], COLORREF{0xDEADBEEF});  // nothing written past n entries
}

void HoverButtonTest::looks_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("firstHeight");  // drawn at this height first, then resized (0: not)
    QTest::addColumn<QString>("text");
    QTest::addColumn<qreal>("dpr");
    struct Size {
        const char* name;
        int w, h, firstHeight;
        const char* text;
        qreal dpr;
    };
    const Size sizes[] = {
        {"50x20", 50, 20, 0, "OK", 1},
        {"60x18", 60, 18, 0, "声音", 1},
        {"30x30 dpr2", 30, 30, 0, "发送", 2},
        {"40x7", 40, 7, 0, "", 1},
        {"40x6 frame only", 40, 6, 0, "Text", 1},
        {"45x24 after 20", 45, 24, 20, "OK", 1},
        {"45x6 after 20", 45, 6, 20, "OK", 1},
    };
    const std::pair<const char*, Look> looks[] = {{"normal", Look::Normal},
                                                  {"hover", Look::Hover},
                                                  {"pressed", Look::Pressed},
                                                  {"disabled", Look::Disabled},
                                                  {"focused", Look::Focused}};
    for (const Size& s : sizes)
        for (const auto& [lookName, look] : looks)
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(s.name, lookName)))
                << s.w << s.h << s.firstHeight << QString::fromUtf8(s.text) << s.dpr;
}

void HoverButtonTest::looks() {
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, firstHeight);
    QFETCH(QString, text);
    QFETCH(qreal, dpr);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    const Look look = tag.endsWith("normal")     ? Look::Normal
                      : tag.endsWith("hover")    ? Look::Hover
                      : tag.endsWith("pressed")  ? Look::Pressed
                      : tag.endsWith("disabled") ? Look::Disabled
                                                 : Look::Focused;

    Stage stage(w, firstHeight ? firstHeight : h, text);
    CHoverButton& button = *stage.button;
    QVERIFY(stage.Ready());
    if (firstHeight) {
        Render(button, dpr);  // builds the tables for the first height
        button.resize(w, h);
    }
    switch (look) {
        case Look::Normal:
            break;
        case Look::Hover:
            QTest::mouseMove(&button, QPoint(w / 2, h / 2));
            break;
        case Look::Pressed:
            button.setDown(true);
            break;
        case Look::Disabled:
            button.setEnabled(false);
            break;
        case Look::Focused:
            button.setFocus();
            QTRY_VERIFY(button.hasFocus());
            break;
    }
    const QImage actual = Render(button, dpr);
    const Expected expected = BuildExpected(look, w, h, text, button.font());
    const QString mismatch = Compare(actual, expected, dpr);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

    // The text is there, inside its box, in its colour: black, or the frame's grey when disabled.
    if (!text.isEmpty() && h > 6 && dpr == 1) {
        QVERIFY(!InkBox(actual, expected).isEmpty());
        const QRgb ink = look == Look::Disabled ? Rgb(0x92A1A1) : qRgb(0, 0, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (expected.textMask.pixelIndex(x, y)) QVERIFY(qGray(actual.pixel(x, y)) >= qGray(ink));
    }
}

void HoverButtonTest::drawStateTable_data() {
    QTest::addColumn<int>("before");  // draw state before the drawing
    QTest::addColumn<uint>("itemState");
    QTest::addColumn<int>("look");  // Look, or -1 for the picture drawn before
    QTest::addColumn<int>("after");

    const uint sel = CHoverButton::ODS_SELECTED, foc = CHoverButton::ODS_FOCUS,
               dis = CHoverButton::ODS_DISABLED;
    QTest::newRow("selected wins") << 2 << (sel | foc | dis) << int(Look::Pressed) << 1;
    QTest::newRow("focus after pressed") << 1 << foc << int(Look::Normal) << 0;
    QTest::newRow("focus after disabled") << 3 << (foc | dis) << int(Look::Normal) << 0;
    QTest::newRow("disabled") << 0 << dis << int(Look::Disabled) << 3;
    QTest::newRow("hover") << 2 << 0u << int(Look::Hover) << 2;
    QTest::newRow("hover with focus") << 2 << foc << int(Look::Hover) << 2;
    QTest::newRow("normal") << 0 << 0u << int(Look::Normal) << 0;
    QTest::newRow("enabled again") << 3 << 0u << int(Look::Normal) << 3;
    QTest::newRow("left pressed") << 1 << 0u << -1 << 1;
    QTest::newRow("left pressed, disabled") << 1 << dis << int(Look::Disabled) << 3;
}

void HoverButtonTest::drawStateTable() {
    QFETCH(int, before);
    QFETCH(uint, itemState);
    QFETCH(int, look);
    QFETCH(int, after);

    const int w = 50, h = 20;
    Stage stage(w, h, QStringLiteral("OK"));
    CHoverButton& button = *stage.button;
    QVERIFY(stage.Ready());
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kMarker);
    QPainter painter(&image);
    // Reach the state before: a press leaves 1, a disabled drawing 3, the pointer 2.
    if (before == 1) button.DrawItem(painter, CHoverButton::ODS_SELECTED, button.rect());
    if (before == 3) button.DrawItem(painter, CHoverButton::ODS_DISABLED, button.rect());
    if (before == 2) QTest::mouseMove(&button, QPoint(w / 2, h / 2));
    QCOMPARE(button.DrawState(), before);
    const QImage previous = image.copy();

    image.fill(kMarker);
    button.DrawItem(painter, itemState, button.rect());
    painter.end();
    QCOMPARE(button.DrawState(), after);
    if (look < 0) {
        QCOMPARE(image, previous);  // the pressed picture stays
        return;
    }
    const Expected expected =
        BuildExpected(static_cast<Look>(look), w, h, QStringLiteral("OK"), button.font());
    const QString mismatch = Compare(image, expected, 1);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    if (look == int(Look::Pressed)) {
        // The pressed text sits one pixel right and one down of the normal text.
        QImage normal(w, h, QImage::Format_RGB32);
        QPainter p(&normal);
        button.DrawItem(p, CHoverButton::ODS_FOCUS, button.rect());
        const Expected normalExpected =
            BuildExpected(Look::Normal, w, h, QStringLiteral("OK"), button.font());
        QCOMPARE(InkBox(image, expected).topLeft(), InkBox(normal, normalExpected).topLeft() + QPoint(1, 1));
    }
}

void HoverButtonTest::setColorsRebuildsOnlyTheNormalRing() {
    const int w = 40, h = 20;
    Stage stage(w, h, QString());
    CHoverButton& button = *stage.button;
    QVERIFY(stage.Ready());
    QCOMPARE(Compare(Render(button, 1), BuildExpected(Look::Normal, w, h, {}, button.font()), 1), QString());

    button.SetColors(0xC7FAE2, 0x24EA91);
    QCOMPARE(Compare(Render(button, 1),
                     BuildExpected(Look::Normal, w, h, {}, button.font(), 0xC7FAE2, 0x24EA91), 1),
             QString());
    QTest::mouseMove(&button, QPoint(5, 5));
    QCOMPARE(Compare(Render(button, 1), BuildExpected(Look::Hover, w, h, {}, button.font()), 1), QString());
    button.setDown(true);
    QCOMPARE(Compare(Render(button, 1), BuildExpected(Look::Pressed, w, h, {}, button.font()), 1), QString());
}

void HoverButtonTest::pointerFollowedWithoutGrab() {
    const int w = 40, h = 20;
    Stage stage(w, h, QStringLiteral("OK"));
    CHoverButton& button = *stage.button;
    QVERIFY(stage.Ready());
    QWidget* window = &stage.window;
    const QPoint origin = button.pos();

    struct Move {
        QPoint at;  // in the window
        int state;
    };
    // On, then off by one pixel past the right edge, on again, off past the bottom edge, in over the left.
    const Move moves[] = {{origin + QPoint(10, 10), 2},       {origin + QPoint(w, 10), 0},
                          {origin + QPoint(w - 1, h - 1), 2}, {origin + QPoint(w - 1, h), 0},
                          {origin + QPoint(0, 0), 2},         {origin + QPoint(-1, 5), 0}};
    for (const Move& move : moves) {
        QTest::mouseMove(window, move.at);
        QTRY_COMPARE(button.DrawState(), move.state);
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        const Look look = move.state == 2 ? Look::Hover : Look::Normal;
        QCOMPARE(
            Compare(Render(button, 1), BuildExpected(look, w, h, QStringLiteral("OK"), button.font()), 1),
            QString());
    }

    // A click: pressed while down, normal with the focus afterwards, lit again at the next move.
    QTest::mouseMove(&button, QPoint(10, 10));
    QTRY_COMPARE(button.DrawState(), 2);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    Render(button, 1);
    QCOMPARE(button.DrawState(), 1);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(button.hasFocus());
    Render(button, 1);
    QCOMPARE(button.DrawState(), 0);
    QVERIFY(button.HasFocusFlag());
    QTest::mouseMove(&button, QPoint(12, 10));
    QTRY_COMPARE(button.DrawState(), 2);
    QCOMPARE(QWidget::mouseGrabber(), nullptr);

    // A disabled button does not light up.
    QTest::mouseMove(window, QPoint(1, 1));
    QTRY_COMPARE(button.DrawState(), 0);
    button.setEnabled(false);
    QTest::mouseMove(&button, QPoint(10, 10));
    QTest::qWait(20);
    QVERIFY(button.DrawState() != 2);
}

QTEST_MAIN(HoverButtonTest)
#include "hover_button_test.moc"
