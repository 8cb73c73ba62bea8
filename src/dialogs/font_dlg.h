#pragma once
// The font window of the body: face, style, size, underline and strike-out from Qt's own font chooser,
// and the text colour, which that chooser does not offer, beside it.

#include <QColor>
#include <QDialog>
#include <QFont>

#include <functional>

class QCheckBox;
class QFontDialog;
class QPushButton;

namespace vox {

class CFontDlg : public QDialog {
    Q_OBJECT
public:
    CFontDlg(const QFont& font, const QColor& color, QWidget* parent = nullptr);

    QFont SelectedFont() const;
    QColor SelectedColor() const { return m_crColor; }
    void SetSelectedFont(const QFont& font);
    void SetSelectedColor(const QColor& color);

private:
    // Names the chooser's fields and lists that Qt leaves without one.
    void NameChooserFields();
    void OnColor();
    void OnChooserFont(const QFont& font);

    QFontDialog* m_fontChooser;
    // Many CJK faces come in one style only, so the chooser's style list may offer no bold or italic:
    // these two add them to any face.
    QCheckBox* m_chkBold;
    QCheckBox* m_chkItalic;
    QPushButton* m_btnColor;
    QColor m_crColor;
};

// Runs the font window started from font and color; on OK writes the choice back and returns true.
bool ChooseFont(QWidget* parent, QFont& font, QColor& color);

using FontChooserFunction = std::function<bool(QWidget* parent, QFont& font, QColor& color)>;
// Replaces the font window (tests); an empty function puts it back. Returns the previous replacement.
FontChooserFunction SetFontChooserFunction(FontChooserFunction replacement);

}  // namespace vox
