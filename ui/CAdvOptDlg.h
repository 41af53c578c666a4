// The image quality dialog: the image quality form with OK, Cancel and Help. OK stores
// the values in the settings and in config.ini; Cancel nothing.
#pragma once

#include <QDialog>

#include <cstdint>

class AppConfig;
class ImageQualityForm;

class CAdvOptDlg : public QDialog {
    Q_OBJECT

public:
    CAdvOptDlg(AppConfig& cfg, QWidget* parent);

    // The combo entry for a resolution, and the resolution of an entry (see the form).
    static int EntryForDpi(const AppConfig& cfg, int32_t dpi);
    static int32_t DpiForEntry(const AppConfig& cfg, int entry);

    void accept() override;

private:
    AppConfig& cfg_;
    ImageQualityForm* form_;
};
