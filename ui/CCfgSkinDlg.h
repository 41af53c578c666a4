// The HTML toolbar dialog: which buttons a book's toolbar shows, an own home link and
// the language of the toolbar. OK stores the choices in the settings and config.ini.
#pragma once

#include <QDialog>

class AppConfig;
class QCheckBox;
class QComboBox;
class QLineEdit;

class CCfgSkinDlg : public QDialog {
    Q_OBJECT

public:
    CCfgSkinDlg(AppConfig& cfg, QWidget* parent);
    void accept() override;

private:
    AppConfig& cfg_;
    QCheckBox* use_email_;
    QCheckBox* use_note_;
    QCheckBox* use_home_;
    QLineEdit* home_text_;
    QLineEdit* home_url_;
    QComboBox* language_;
};
