// The publishing settings dialog: where finished books go (FTP, the web service or
// both), the FTP profile, the web-service account and the book classification. OK
// checks the choice (a refusal keeps the dialog open) and saves it; Cancel changes
// nothing.
#pragma once

#include <QDialog>

class AppConfig;
class CBaseNetworkDlg;

class CNetworkDlg : public QDialog {
    Q_OBJECT

public:
    CNetworkDlg(AppConfig& cfg, QWidget* parent);
    CBaseNetworkDlg* Settings() const { return settings_; }
    void accept() override;

private:
    AppConfig& cfg_;
    CBaseNetworkDlg* settings_;
};
