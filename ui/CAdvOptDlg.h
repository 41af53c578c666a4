// The image quality dialog: JPEG quality and smoothing of the page images and of the
// zoom images (trackbars, each with a read-only edit showing its value) and the zoom
// resolution. OK stores the values in the settings and in config.ini; Cancel nothing.
#pragma once

#include <QDialog>

class AppConfig;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QSlider;

class CAdvOptDlg : public QDialog {
    Q_OBJECT

public:
    CAdvOptDlg(AppConfig& cfg, QWidget* parent);

    // The combo entry for a resolution: below med_dpi the first, equal the second, above
    // it the third.
    static int EntryForDpi(const AppConfig& cfg, int32_t dpi);
    static int32_t DpiForEntry(const AppConfig& cfg, int entry);

    void accept() override;

private:
    struct Setting {
        QSlider* slider;
        QLineEdit* edit;
    };
    Setting AddSetting(QGridLayout* grid, int row, const char* label, const char* hint, int minimum,
                       int maximum, int value, const char* name);

    AppConfig& cfg_;
    Setting page_quality_{};
    Setting page_smooth_{};
    Setting zoom_quality_{};
    Setting zoom_smooth_{};
    QComboBox* resolution_;
};
