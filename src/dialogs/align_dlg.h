#pragma once
// The alignment window: left, centred or right for every paragraph of the body.

#include <QDialog>

class QButtonGroup;

namespace vox {

class CAlignDlg : public QDialog {
    Q_OBJECT
public:
    // alignment in the body's codes: PFA_LEFT 1, PFA_RIGHT 2, PFA_CENTER 3. Any other value checks no button.
    explicit CAlignDlg(int alignment, QWidget* parent = nullptr);

    void OnOK();
    bool UpdateData(bool saveAndValidate = true);
    QWidget* Control(int id) const;

    int m_nAlignment;    // handed in; handed back after OK (unchanged when no button was checked)
    int m_nAlignChoice;  // 0 left, 1 centred, 2 right, -1 none

private:
    bool DoDataExchange(bool toMembers);

    QButtonGroup* m_choiceGroup;
};

}  // namespace vox
