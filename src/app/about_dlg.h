#pragma once
// The about box: the icon, the product title and the maker's credit line.

#include <QDialog>

class QLabel;

namespace vox {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* InfoLabel() const { return m_info; }  // control 1037

private:
    QLabel* m_info;
};

}  // namespace vox
