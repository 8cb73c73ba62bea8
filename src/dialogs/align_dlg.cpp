#include "dialogs/align_dlg.h"

#include <QButtonGroup>
#include <QPushButton>
#include <QRadioButton>

#include "compose/mail_draft.h"
#include "dialogs/dialog_units.h"
#include "dialogs/radio_group.h"

namespace vox {

namespace {

// Radio button index to alignment code: left, centred, right.
constexpr int kAlignmentOfChoice[] = {PFA_LEFT, PFA_CENTER, PFA_RIGHT};

int ChoiceOf(int alignment) {
    for (int i = 0; i < 3; ++i)
        if (kAlignmentOfChoice[i] == alignment) return i;
    return -1;
}

}  // namespace

CAlignDlg::CAlignDlg(int alignment, QWidget* parent)
    : QDialog(parent), m_nAlignment(alignment), m_nAlignChoice(ChoiceOf(alignment)) {
    setWindowTitle(QStringLiteral("格式"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setFixedSize(Dlu(187), Dlu(100));

    // Created in tab order.
    const auto make = [this](auto* widget, int id, const QRect& rect) {
        widget->setObjectName(QString::number(id));
        widget->setGeometry(rect);
        return widget;
    };
    QPushButton* ok = make(new QPushButton(QStringLiteral("确定"), this), 1, DluRect(36, 79, 50, 14));
    ok->setDefault(true);
    QPushButton* cancel = make(new QPushButton(QStringLiteral("取消"), this), 2, DluRect(100, 79, 50, 14));
    // 50 units of the template fall a pixel short of "右对齐(R)" in the CJK font; the window has room.
    QRadioButton* left =
        make(new QRadioButton(QStringLiteral("左对齐(&L)"), this), 1017, DluRect(36, 18, 60, 12));
    QRadioButton* centre =
        make(new QRadioButton(QStringLiteral("居中(&C)"), this), 1018, DluRect(36, 36, 60, 12));
    QRadioButton* right =
        make(new QRadioButton(QStringLiteral("右对齐(&R)"), this), 1019, DluRect(36, 54, 60, 12));
    m_choiceGroup = MakeRadioGroup(this, {left, centre, right});

    connect(ok, &QPushButton::clicked, this, &CAlignDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    UpdateData(false);
}

QWidget* CAlignDlg::Control(int id) const { return FindControl(this, id); }

bool CAlignDlg::UpdateData(bool saveAndValidate) {
    return DoDataExchange(saveAndValidate);
}

bool CAlignDlg::DoDataExchange(bool toMembers) {
    if (toMembers)
        m_nAlignChoice = ReadRadioGroup(m_choiceGroup);
    else
        WriteRadioGroup(m_choiceGroup, m_nAlignChoice);
    return true;
}

void CAlignDlg::OnOK() {
    UpdateData(true);  // a choice of radio buttons always reads
    if (m_nAlignChoice >= 0 && m_nAlignChoice < 3) m_nAlignment = kAlignmentOfChoice[m_nAlignChoice];
    accept();
}

}  // namespace vox
