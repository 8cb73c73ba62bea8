#pragma once
// The message body editor: a text edit with a tiled background picture behind the text, a colour mode
// that paints one opaque colour instead, and a paste that only ever inserts plain text.

#include <QColor>
#include <QImage>
#include <QTextEdit>

class QMimeData;

namespace vox {

class CBodyEdit : public QTextEdit {
    Q_OBJECT
public:
    explicit CBodyEdit(QWidget* parent = nullptr);

    // Decodes the picture file, renders it at the screen's resolution and tiles it from the viewport's
    // top-left corner; the editor shows the tile from then on (picture mode). On failure the message box
    // says why ("无法打开文件" or "不支持的文件格式") and the previous background stays.
    bool SetBackgroundPicture(const QString& path);

    // Colour mode: the editor is opaque in that colour; the tile is kept for a later SetTransparent.
    void SetBackgroundColor(const QColor& color);
    // Picture mode again: the tile shows (nothing of our own when no picture was ever set).
    void SetTransparent();

    const QImage& Tile() const { return m_tile; }
    bool IsColorMode() const { return m_bColorMode; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void ApplyViewportFill();

    QImage m_tile;  // the rendered picture the tile is painted from; null until a picture was set
    bool m_bColorMode = false;
    QColor m_crBackground = Qt::white;
};

}  // namespace vox
