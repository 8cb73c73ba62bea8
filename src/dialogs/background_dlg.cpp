#include "dialogs/background_dlg.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "dialogs/accessible_names.h"
#include "controls/text_format.h"
#include "dialogs/color_chooser.h"
#include "dialogs/data_exchange.h"
#include "dialogs/dialog_units.h"
#include "dialogs/file_chooser.h"
#include "dialogs/radio_group.h"

namespace vox {

// "*" rather than "*.*": on this system a file name need not have a dot.
const char kPictureFilter[] =
    "JPEG Files (*.jpg);;GIF Files (*.gif);;Bitmap Files (*.bmp);;Window MetaFiles(*.wmf);;All Files (*)";

namespace {

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& rect, QWidget* buddy) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(rect);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setBuddy(buddy);
    return label;
}

// Red in bits 0 to 7, green in 8 to 15, blue in 16 to 23; the top byte is not looked at.
void SplitColor(COLORREF color, uint32_t& red, uint32_t& green, uint32_t& blue) {
    red = color & 0xFF;
    green = (color >> 8) & 0xFF;
    blue = (color >> 16) & 0xFF;
}

}  // namespace

CBackgroundDlg::CBackgroundDlg(int mode, COLORREF color, const QString& picture, QWidget* parent)
    : QDialog(parent), m_crColor(color), m_nMode(mode), m_strPicture(picture) {
    setWindowTitle(QStringLiteral("背景"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setFixedSize(Dlu(187), Dlu(100));

    // Created in tab order. The two radio buttons take no Tab stop: their mnemonics reach them.
    const auto radio = [this](int id, const QString& text, const QRect& rect) {
        auto* button = MakeControl<QRadioButton>(this, id, rect, text);
        button->setFocusPolicy(Qt::ClickFocus);
        return button;
    };
    const auto edit = [this](int id, const QRect& rect) { return MakeControl<QLineEdit>(this, id, rect); };
    const auto button = [this](int id, const QString& text, const QRect& rect) {
        return MakeControl<QPushButton>(this, id, rect, text);
    };
    // 40 units of the template cut the captions in the CJK font; 50 fit them, and nothing lies beside
    // either button.
    m_radioColor = radio(1017, QStringLiteral("颜色(&C)"), DluRect(34, 13, 50, 12));
    m_radioPicture = radio(1018, QStringLiteral("图片(&P)"), DluRect(34, 43, 50, 12));
    m_modeGroup = MakeRadioGroup(this, {m_radioColor, m_radioPicture});
    m_editRed = edit(1016, DluRect(54, 28, 20, 12));
    MakeLabel(this, QStringLiteral("&R"), DluRect(46, 28, 8, 12), m_editRed);
    m_editGreen = edit(1019, DluRect(84, 28, 20, 12));
    MakeLabel(this, QStringLiteral("&G"), DluRect(76, 28, 8, 12), m_editGreen);
    m_editBlue = edit(1022, DluRect(114, 28, 20, 12));
    MakeLabel(this, QStringLiteral("&B"), DluRect(106, 28, 8, 12), m_editBlue);
    m_btnPickColor = button(1020, QStringLiteral("+"), DluRect(141, 28, 12, 12));
    m_btnPickColor->setAccessibleName(AccessibleText(kNameChooseColor));
    m_editPicture = edit(1015, DluRect(54, 58, 80, 12));
    m_editPicture->setAccessibleName(AccessibleText(kNamePicture));
    m_btnBrowse = button(1021, QStringLiteral("+"), DluRect(141, 58, 12, 12));
    m_btnBrowse->setAccessibleName(AccessibleText(kNameChoosePicture));
    QPushButton* ok = button(1, QStringLiteral("确定"), DluRect(36, 79, 50, 14));
    ok->setDefault(true);
    QPushButton* cancel = button(2, QStringLiteral("取消"), DluRect(100, 79, 50, 14));

    connect(m_radioColor, &QRadioButton::clicked, this, &CBackgroundDlg::OnColorMode);
    connect(m_radioPicture, &QRadioButton::clicked, this, &CBackgroundDlg::OnPictureMode);
    connect(m_btnPickColor, &QPushButton::clicked, this, &CBackgroundDlg::OnPickColor);
    connect(m_btnBrowse, &QPushButton::clicked, this, &CBackgroundDlg::OnBrowsePicture);
    connect(ok, &QPushButton::clicked, this, &CBackgroundDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    OnInitDialog();
}

QWidget* CBackgroundDlg::Control(int id) const { return FindControl(this, id); }

bool CBackgroundDlg::OnInitDialog() {
    SplitColor(m_crColor, m_nRed, m_nGreen, m_nBlue);
    if (m_nMode == kColorMode) EnableColorFields(true);
    if (m_nMode == kPictureMode) EnableColorFields(false);
    UpdateData(false);
    return true;
}

void CBackgroundDlg::EnableColorFields(bool colorMode) {
    for (QWidget* w : {static_cast<QWidget*>(m_editRed), static_cast<QWidget*>(m_editGreen),
                       static_cast<QWidget*>(m_editBlue), static_cast<QWidget*>(m_btnPickColor)})
        w->setEnabled(colorMode);
    m_editPicture->setEnabled(!colorMode);
    m_btnBrowse->setEnabled(!colorMode);
}

bool CBackgroundDlg::UpdateData(bool saveAndValidate) {
    return DoDataExchange(saveAndValidate);
}

bool CBackgroundDlg::DoDataExchange(bool toMembers) {
    if (!toMembers) {
        WriteRadioGroup(m_modeGroup, m_nMode);
        m_editPicture->setText(m_strPicture);
        WriteUnsignedEdit(m_editRed, m_nRed);
        WriteUnsignedEdit(m_editGreen, m_nGreen);
        WriteUnsignedEdit(m_editBlue, m_nBlue);
        return true;
    }
    m_nMode = ReadRadioGroup(m_modeGroup);
    m_strPicture = m_editPicture->text();
    return ReadByteEdit(this, m_editRed, m_nRed) && ReadByteEdit(this, m_editGreen, m_nGreen) &&
           ReadByteEdit(this, m_editBlue, m_nBlue);
}

void CBackgroundDlg::OnColorMode() {
    EnableColorFields(true);
}

void CBackgroundDlg::OnPictureMode() {
    if (UpdateData(true)) {
        EnableColorFields(false);
        return;
    }
    // A component does not read: the window stays in colour mode, the message has said why.
    WriteRadioGroup(m_modeGroup, kColorMode);
}

void CBackgroundDlg::OnPickColor() {
    if (!UpdateData(true)) return;
    QColor color(static_cast<int>(m_nRed), static_cast<int>(m_nGreen), static_cast<int>(m_nBlue));
    if (!ChooseColor(this, color)) return;
    m_crColor = ToColorRef(color);
    SplitColor(m_crColor, m_nRed, m_nGreen, m_nBlue);
    UpdateData(false);
}

void CBackgroundDlg::OnBrowsePicture() {
    const QString path = ChooseOpenFile(this, QString(), QString::fromUtf8(kPictureFilter));
    if (!path.isEmpty()) m_editPicture->setText(path);
}

void CBackgroundDlg::OnOK() {
    if (!UpdateData(true)) return;
    m_crColor = m_nRed + 256 * m_nGreen + 65536 * m_nBlue;
    accept();
}

}  // namespace vox
