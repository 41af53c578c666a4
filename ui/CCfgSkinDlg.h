// The HTML toolbar dialog: which buttons a book's toolbar shows, an own home link and
// the language of the toolbar. OK stores the choices in the settings and config.ini.
#pragma once

#include <QDialog>

#include <memory>

class AppConfig;
class ToolbarOptions;

class CCfgSkinDlg : public QDialog {
    Q_OBJECT

public:
    CCfgSkinDlg(AppConfig& cfg, QWidget* parent);
    ~CCfgSkinDlg() override;
    void accept() override;

private:
    AppConfig& cfg_;
    std::unique_ptr<ToolbarOptions> options_;
};
