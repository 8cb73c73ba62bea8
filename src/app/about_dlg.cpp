#include "app/about_dlg.h"

#include <algorithm>

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/maker_info.h"
#include "app/app_resources.h"
#include "dialogs/dialog_units.h"
#include "dialogs/ui_text.h"
#include "dialogs/text_fit.h"

namespace vox {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_info(new QLabel(this)) {
    LoadUiResources();
    setWindowTitle(UiText("关于 VoxLetter"));
    setFont(DialogFont());
    setFixedSize(Dlu(235), Dlu(55));

    // The icon is shown at its own size from the template's corner, as an icon control does.
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/voxletter.png")).pixmap(32, 32));
    icon->setGeometry(Dlu(11), Dlu(17), 32, 32);

    m_info->setObjectName(QStringLiteral("1037"));
    m_info->setTextFormat(Qt::PlainText);  // ampersands as typed
    m_info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_info->setWordWrap(true);
    m_info->setText(UiText(kProductTitle) + QStringLiteral("\n\n") + UiText(kMakerCredit));
    // The CJK font's lines are taller than the template font's: the label grows downwards to its text, and
    // the box with it.
    const QRect rect = DluRect(67, 15, 100, 25);
    m_info->setGeometry(rect.x(), rect.y(), rect.width(), std::max(rect.height(), m_info->heightForWidth(rect.width())));
    if (m_info->geometry().bottom() + 10 > height()) setFixedHeight(m_info->geometry().bottom() + 10);

    auto* ok = new QPushButton(UiText("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(DluRect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    FitTexts(this);
}

}  // namespace vox
