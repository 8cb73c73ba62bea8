#include "dialogs/text_fit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "controls/hover_button.h"

namespace vox {

namespace {

// The most of a gap (between neighbours, or inside a group box's edge) that is kept when a control grows
// into it: a wide template gap is used up first, a narrow one is kept as it was.
constexpr int kKeptGap = 5;
// Neighbours in a template may overlap by a pixel where rounding met: still left and right of each other.
constexpr int kTouching = 2;

// A caption as a button draws it: a mnemonic's ampersand takes no room ("发件人(&F)" shows "发件人(F)").
QString Drawn(const QString& caption) {
    QString drawn = caption;
    for (qsizetype i = drawn.indexOf(QLatin1Char('&')); i >= 0; i = drawn.indexOf(QLatin1Char('&'), i + 1))
        drawn.remove(i, 1);  // "&&" leaves one
    return drawn;
}

int Right(const QRect& r) { return r.x() + r.width(); }  // one past the last column

bool RowsOverlap(const QRect& a, const QRect& b) { return a.y() < b.y() + b.height() && b.y() < a.y() + a.height(); }

// One parent's hand-placed children: their template rectangles, and the x and width they end with.
struct Item {
    QWidget* widget;
    QRect before;
    int x, width;
};

// Lays out the children of parent so that every caption fits; returns how far right they reach now
// (and reached before), or nothing when parent has none placed by hand.
struct Reach {
    int before = 0, after = 0;
};

Reach FitChildren(QWidget* parent) {
    Reach reach;
    if (parent->layout()) return reach;
    std::vector<Item> items;
    for (QObject* object : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(object);
        if (!widget || widget->isWindow()) continue;
        items.push_back({widget, widget->geometry(), widget->x(), widget->width()});
    }
    if (items.empty()) return reach;
    // Group boxes first take their own contents' room, which their width in this parent then includes.
    for (Item& item : items) {
        if (auto* group = qobject_cast<QGroupBox*>(item.widget)) {
            const Reach inner = FitChildren(group);
            if (inner.after > inner.before) item.width += inner.after - inner.before;
        }
        item.width = std::max(item.width, CaptionWidth(item.widget));
    }

    // The template's relations, each kept as the widths change: "b stays right of a" with the gap they had
    // (up to kKeptGap), and "a group box holds c": c keeps its place in the box, the box its margin
    // beyond c.
    struct RightOf {
        std::size_t a, b;
        int gap;
    };
    struct Holds {
        std::size_t box, content;
        int offset, margin;
    };
    std::vector<RightOf> rows;
    std::vector<Holds> holds;
    for (std::size_t i = 0; i < items.size(); ++i) {
        for (std::size_t j = 0; j < items.size(); ++j) {
            if (i == j) continue;
            const QRect& a = items[i].before;
            const QRect& b = items[j].before;
            if (qobject_cast<QGroupBox*>(items[i].widget) && a.contains(b)) {
                holds.push_back({i, j, b.x() - a.x(), std::min(Right(a) - Right(b), kKeptGap)});
                continue;
            }
            if (b.contains(a) || a.contains(b)) continue;
            if (b.x() > a.x() && b.x() >= Right(a) - kTouching && RowsOverlap(a, b))
                rows.push_back({i, j, std::min(b.x() - Right(a), kKeptGap)});
        }
    }
    // Every relation only ever pushes right or widens, so this settles; the bound is a guard.
    for (int round = 0; round < 1000; ++round) {
        bool changed = false;
        for (const RightOf& r : rows) {
            const int least = items[r.a].x + items[r.a].width + r.gap;
            if (items[r.b].x < least) {
                items[r.b].x = least;
                changed = true;
            }
        }
        for (const Holds& h : holds) {
            Item& box = items[h.box];
            Item& content = items[h.content];
            if (content.x < box.x + h.offset) {
                content.x = box.x + h.offset;
                changed = true;
            }
            const int least = content.x + content.width + h.margin - box.x;
            if (box.width < least) {
                box.width = least;
                changed = true;
            }
        }
        if (!changed) break;
    }

    for (const Item& item : items) {
        reach.before = std::max(reach.before, Right(item.before));
        reach.after = std::max(reach.after, item.x + item.width);
        if (item.x != item.before.x() || item.width != item.before.width())
            item.widget->setGeometry(item.x, item.before.y(), item.width, item.before.height());
    }
    return reach;
}

}  // namespace

int CaptionWidth(const QWidget* control) {
    if (auto* hover = qobject_cast<const CHoverButton*>(control)) {
        // Painted by hand: the caption as it stands, centred inside the two-pixel ring and its light edge.
        if (hover->text().isEmpty()) return 0;
        return hover->fontMetrics().horizontalAdvance(hover->text()) + 6;
    }
    if (auto* push = qobject_cast<const QPushButton*>(control)) {
        if (push->text().isEmpty()) return 0;
        // The caption inside the frame with a pixel to spare each side, not the size hint's minimum width
        // (the templates' small "+" buttons are narrower than that, and their captions fit).
        return push->fontMetrics().horizontalAdvance(Drawn(push->text())) +
               2 * (push->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, push) + 1);
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) {
        // Check boxes and radio buttons: the mark, its spacing and the caption.
        return button->text().isEmpty() ? 0 : button->sizeHint().width();
    }
    if (auto* label = qobject_cast<const QLabel*>(control)) {
        if (label->wordWrap() || label->text().isEmpty()) return 0;
        return label->sizeHint().width();
    }
    if (auto* group = qobject_cast<const QGroupBox*>(control)) {
        if (group->title().isEmpty()) return 0;
        // Without a layout the box's minimum size is its title's, within the frame.
        return group->minimumSizeHint().width();
    }
    return 0;
}

void FitTexts(QWidget* window) {
    window->ensurePolished();
    for (QWidget* child : window->findChildren<QWidget*>()) child->ensurePolished();
    const Reach reach = FitChildren(window);
    if (reach.after <= reach.before) return;
    // The right margin the template had beyond its rightmost control.
    const int margin = std::max(0, window->width() - reach.before);
    const int wanted = reach.after + margin;
    if (wanted <= window->width()) return;
    if (window->minimumWidth() == window->maximumWidth())
        window->setFixedWidth(wanted);
    else
        window->resize(wanted, window->height());
}

}  // namespace vox
