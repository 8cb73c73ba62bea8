// CBodyEdit: the tile's step and origin as the viewport shows it, while the text scrolls; failed loads;
// the colour mode; and plain text from every paste path.
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>

#include "controls/body_edit.h"
#include "dialogs/message_box.h"
#include "picture/picture_image.h"

using namespace vox;

namespace {

struct Shown {
    QString text;
    MessageIcon icon;
};

// A tile of 7 by 5 pixels: red at its top-left pixel, blue elsewhere, so the step and origin are visible.
QString WriteTile(const QTemporaryDir& dir) {
    QImage tile(7, 5, QImage::Format_RGB32);
    tile.fill(Qt::blue);
    tile.setPixel(0, 0, qRgb(255, 0, 0));
    const QString path = dir.filePath("tile.bmp");
    tile.save(path);
    return path;
}

QImage Viewport(CBodyEdit& edit) {
    QApplication::processEvents();
    return edit.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class BodyEditTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_shown.clear();
        SetMessageFunction([this](QWidget*, const QString& text, const QString&, MessageIcon icon) {
            m_shown.push_back({text, icon});
        });
    }
    void cleanup() { SetMessageFunction({}); }

    void tileStartsAtTheViewportCornerAndStaysWhileTextScrolls() {
        QTemporaryDir dir;
        CBodyEdit edit;
        edit.resize(300, 200);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QVERIFY(edit.SetBackgroundPicture(WriteTile(dir)));
        QString lines;
        for (int i = 0; i < 200; ++i) lines += QStringLiteral("x\n");
        edit.setPlainText(lines);
        for (int scroll : {0, 37, 101}) {
            edit.verticalScrollBar()->setValue(scroll);
            const QImage shown = Viewport(edit);
            // Away from the text (which sits at the left), every 7th column and 5th row is red.
            for (int y = 0; y < 40; ++y)
                for (int x = 140; x < 180; ++x) {
                    const bool corner = x % 7 == 0 && y % 5 == 0;
                    QCOMPARE(shown.pixel(x, y) & 0xFFFFFF, corner ? 0xFF0000u : 0x0000FFu);
                }
            QCOMPARE(shown.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
        }
    }

    // One picture of each kind: the viewport shows its tile repeated from the corner, in steps of its size.
    void everyKindOfPictureTiles() {
        for (const char* name : {"base-96dpi.jpg", "transparent.gif", "pal8.bmp", "libuemf-records.wmf"}) {
            CBodyEdit edit;
            edit.resize(900, 700);
            edit.show();
            QVERIFY(QTest::qWaitForWindowExposed(&edit));
            QVERIFY2(edit.SetBackgroundPicture(QStringLiteral(VOX_PICTURE_DATA "/") + name), name);
            QVERIFY(m_shown.empty());
            const QImage tile = edit.Tile().convertToFormat(QImage::Format_RGB32);
            const QImage shown = Viewport(edit);
            for (const QPoint at : {QPoint(3, 3), QPoint(tile.width() + 3, 3), QPoint(3, tile.height() + 5),
                                    QPoint(2 * tile.width() + 7, tile.height() + 9)}) {
                if (at.x() >= shown.width() || at.y() >= shown.height()) continue;
                QCOMPARE(shown.pixel(at) & 0xFFFFFF,
                         tile.pixel(at.x() % tile.width(), at.y() % tile.height()) & 0xFFFFFF);
            }
        }
    }

    void failedLoadKeepsTheTileAndSaysWhy() {
        QTemporaryDir dir;
        CBodyEdit edit;
        QVERIFY(edit.SetBackgroundPicture(WriteTile(dir)));
        const QImage before = edit.Tile();
        QFile text(dir.filePath("notes.jpg"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("just some words\n");
        text.close();
        struct Case { QString path; const char* message; };
        for (const Case& c : {Case{dir.filePath("missing.gif"), kCannotOpenText},
                              Case{text.fileName(), kUnsupportedText}}) {
            m_shown.clear();
            QVERIFY(!edit.SetBackgroundPicture(c.path));
            QCOMPARE(m_shown.size(), size_t(1));
            QCOMPARE(m_shown[0].text, QString::fromUtf8(c.message));
            QCOMPARE(int(m_shown[0].icon), int(MessageIcon::None));
            QCOMPARE(edit.Tile(), before);
        }
        // The same picture again replaces the tile with an equal one.
        QVERIFY(edit.SetBackgroundPicture(dir.filePath("tile.bmp")));
        QCOMPARE(edit.Tile(), before);
    }

    void colourModeHidesTheTileAndKeepsIt() {
        QTemporaryDir dir;
        CBodyEdit edit;
        edit.resize(200, 120);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QVERIFY(edit.SetBackgroundPicture(WriteTile(dir)));
        edit.SetBackgroundColor(QColor(0, 128, 0));
        QImage shown = Viewport(edit);
        QCOMPARE(shown.pixel(0, 0) & 0xFFFFFF, 0x008000u);
        QCOMPARE(shown.pixel(70, 50) & 0xFFFFFF, 0x008000u);
        QVERIFY(!edit.Tile().isNull());
        edit.SetTransparent();
        shown = Viewport(edit);
        QCOMPARE(shown.pixel(70, 50) & 0xFFFFFF, 0xFF0000u);
    }

    // Whatever the clipboard or the drag holds besides text (markup, an image), only the text goes in,
    // in the format at the cursor.
    void everyPastePathInsertsPlainText() {
        auto mime = [] {
            auto* data = new QMimeData;
            data->setHtml(QStringLiteral("<b style=\"color:red\">粗体</b><img src=\"x.png\">"));
            data->setText(QStringLiteral("纯文本\r\nline"));
            QImage image(4, 4, QImage::Format_RGB32);
            image.fill(Qt::green);
            data->setImageData(image);
            return data;
        };
        const QString expected = QStringLiteral("纯文本\nline");
        const QStringList paths = {"ctrl+v", "shift+insert", "menu", "middle", "drop"};
        for (const QString& path : paths) {
            CBodyEdit edit;
            edit.resize(300, 200);
            edit.show();
            QVERIFY(QTest::qWaitForWindowExposed(&edit));
            QTextCharFormat italic;
            italic.setFontItalic(true);
            edit.setCurrentCharFormat(italic);
            QClipboard* clipboard = QApplication::clipboard();
            if (path == "middle") {
                if (!clipboard->supportsSelection()) continue;  // no selection clipboard on this platform
                clipboard->setMimeData(mime(), QClipboard::Selection);
                QTest::mouseClick(edit.viewport(), Qt::MiddleButton, {}, QPoint(10, 10));
            } else if (path == "drop") {
                std::unique_ptr<QMimeData> data(mime());
                const QPoint at(10, 10);
                QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
                QApplication::sendEvent(edit.viewport(), &enter);
                QDragMoveEvent move(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
                QApplication::sendEvent(edit.viewport(), &move);
                QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
                QApplication::sendEvent(edit.viewport(), &drop);
            } else {
                clipboard->setMimeData(mime());
                if (path == "ctrl+v") QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
                if (path == "shift+insert") QTest::keyClick(&edit, Qt::Key_Insert, Qt::ShiftModifier);
                if (path == "menu") {
                    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
                    QAction* paste = nullptr;
                    for (QAction* action : menu->actions())
                        if (action->objectName() == QStringLiteral("edit-paste")) paste = action;
                    QVERIFY(paste);
                    QVERIFY(paste->isEnabled());
                    paste->trigger();
                }
            }
            QCOMPARE(edit.toPlainText(), expected);
            const QString html = edit.document()->toHtml();
            QVERIFY2(!html.contains("<img") && !html.contains("font-weight:700") && !html.contains("#ff0000"),
                     qPrintable(path + ": " + html));
            // A drop inserts at the drop point, in the format found there; the other paths use the cursor's.
            if (path == "drop") continue;
            QTextCursor cursor(edit.document());
            cursor.setPosition(1);
            QVERIFY2(cursor.charFormat().fontItalic(), qPrintable(path));
        }
    }

private:
    std::vector<Shown> m_shown;
};

QTEST_MAIN(BodyEditTest)
#include "body_edit_test.moc"
