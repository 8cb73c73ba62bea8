#pragma once
// The background window: a plain colour, typed as red, green and blue or picked in the colour picker, or a
// background picture file. It only collects the choice; the composer stores and applies it.

#include <QDialog>
#include <QString>
#include <cstdint>

#include "compose/mail_draft.h"

class QButtonGroup;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vox {

class CBackgroundDlg : public QDialog {
    Q_OBJECT
public:
    enum : int { kColorMode = 0, kPictureMode = 1 };

    // mode 0 (colour) or 1 (picture), the colour and the picture's full path as the caller has them.
    CBackgroundDlg(int mode, COLORREF color, const QString& picture, QWidget* parent = nullptr);

    // Command handlers.
    void OnColorMode();
    void OnPictureMode();
    void OnPickColor();
    void OnBrowsePicture();
    void OnOK();

    // Moves the values between the controls and the members. Towards the members it stops at the first
    // field that does not read (its message shown, the field focused) and returns false.
    bool UpdateData(bool saveAndValidate = true);

    // The control with a template id, or null.
    QWidget* Control(int id) const;

    // Handed in, and handed back after OK. Whenever the window ends with OK, m_crColor equals
    // m_nRed + 256 * m_nGreen + 65536 * m_nBlue, in picture mode too.
    COLORREF m_crColor;
    int m_nMode;
    QString m_strPicture;
    uint32_t m_nRed = 0, m_nGreen = 0, m_nBlue = 0;

private:
    bool OnInitDialog();
    bool DoDataExchange(bool toMembers);
    void EnableColorFields(bool colorMode);

    QRadioButton* m_radioColor;    // 1017
    QRadioButton* m_radioPicture;  // 1018
    QButtonGroup* m_modeGroup;
    QLineEdit* m_editRed;         // 1016
    QLineEdit* m_editGreen;       // 1019
    QLineEdit* m_editBlue;        // 1022
    QPushButton* m_btnPickColor;  // 1020
    QLineEdit* m_editPicture;     // 1015
    QPushButton* m_btnBrowse;     // 1021
};

// The picture files the chooser offers, first entry selected.
extern const char kPictureFilter[];

}  // namespace vox
