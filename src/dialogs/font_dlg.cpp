#include "dialogs/font_dlg.h"

#include <QCheckBox>
#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>
#include <vector>

#include "dialogs/accessible_names.h"
#include "dialogs/color_chooser.h"

namespace vox {

CFontDlg::CFontDlg(const QFont& font, const QColor& color, QWidget* parent)
    : QDialog(parent),
      m_fontChooser(new QFontDialog(this)),
      m_chkBold(new QCheckBox(QStringLiteral("粗体(&B)"), this)),
      m_chkItalic(new QCheckBox(QStringLiteral("斜体(&I)"), this)),
      m_btnColor(new QPushButton(this)),
      m_crColor(color) {
    setWindowTitle(QStringLiteral("字体"));

    // Qt's chooser, embedded as a plain widget without its own buttons.
    m_fontChooser->setWindowFlags(Qt::Widget);
    m_fontChooser->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    connect(m_fontChooser, &QFontDialog::currentFontChanged, this, &CFontDlg::OnChooserFont);
    SetSelectedFont(font);
    NameChooserFields();

    auto* colorLabel = new QLabel(QStringLiteral("颜色(&C):"), this);
    colorLabel->setBuddy(m_btnColor);
    // A button takes no name from its buddy label, and this one shows only the colour.
    m_btnColor->setAccessibleName(AccessibleText(kNameTextColor));
    m_btnColor->setMinimumWidth(80);
    connect(m_btnColor, &QPushButton::clicked, this, &CFontDlg::OnColor);
    SetSelectedColor(color);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(m_chkBold);
    colorRow->addWidget(m_chkItalic);
    colorRow->addSpacing(24);
    colorRow->addWidget(colorLabel);
    colorRow->addWidget(m_btnColor);
    colorRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_fontChooser);
    layout->addLayout(colorRow);
    layout->addWidget(buttons);
}

void CFontDlg::NameChooserFields() {
    // Qt's chooser has a column per choice (family, style, size), each a label over a field and a list,
    // but only the label's own buddy takes its name. The columns are made in the same order as their
    // labels, so the n-th field and list are named after the n-th label.
    std::vector<QLabel*> labels;
    for (QLabel* label : m_fontChooser->findChildren<QLabel*>())
        if (qobject_cast<QLineEdit*>(label->buddy()) || qobject_cast<QAbstractItemView*>(label->buddy()))
            labels.push_back(label);
    // The sample text's field, made after the columns, is named by its group.
    const QList<QLineEdit*> fields = m_fontChooser->findChildren<QLineEdit*>();
    const QList<QAbstractItemView*> lists = m_fontChooser->findChildren<QAbstractItemView*>();
    const auto columns = static_cast<qsizetype>(labels.size());
    if (fields.size() < columns || lists.size() < columns) return;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const QString name = SpokenCaption(labels[i]->text());
        for (QWidget* w : {static_cast<QWidget*>(fields[static_cast<qsizetype>(i)]),
                           static_cast<QWidget*>(lists[static_cast<qsizetype>(i)])})
            if (w->accessibleName().isEmpty()) w->setAccessibleName(name);
    }
}

QFont CFontDlg::SelectedFont() const {
    QFont font = m_fontChooser->currentFont();
    font.setBold(m_chkBold->isChecked());
    font.setItalic(m_chkItalic->isChecked());
    return font;
}

void CFontDlg::SetSelectedFont(const QFont& font) {
    m_fontChooser->setCurrentFont(font);
    OnChooserFont(font);
}

void CFontDlg::OnChooserFont(const QFont& font) {
    m_chkBold->setChecked(font.bold());
    m_chkItalic->setChecked(font.italic());
}

void CFontDlg::SetSelectedColor(const QColor& color) {
    m_crColor = color;
    QPixmap swatch(40, 12);
    swatch.fill(color);
    m_btnColor->setIcon(QIcon(swatch));
    m_btnColor->setIconSize(swatch.size());
    m_btnColor->setToolTip(color.name());
}

void CFontDlg::OnColor() {
    QColor picked = m_crColor;
    if (ChooseColor(this, picked)) SetSelectedColor(picked);
}

namespace {

FontChooserFunction& Replacement() {
    static FontChooserFunction replacement;
    return replacement;
}

}  // namespace

bool ChooseFont(QWidget* parent, QFont& font, QColor& color) {
    if (const FontChooserFunction& replacement = Replacement()) return replacement(parent, font, color);
    CFontDlg dlg(font, color, parent);
    if (dlg.exec() != QDialog::Accepted) return false;
    font = dlg.SelectedFont();
    color = dlg.SelectedColor();
    return true;
}

FontChooserFunction SetFontChooserFunction(FontChooserFunction replacement) {
    return std::exchange(Replacement(), std::move(replacement));
}

}  // namespace vox
