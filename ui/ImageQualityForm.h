// The image quality settings as a form: JPEG quality and smoothing of the page images
// and of the zoom images (trackbars, each with a read-only edit showing its value) and
// the zoom resolution. The image quality dialog and the wizard's image quality page
// both show it; Store puts the values into the settings and config.ini.
#pragma once

#include <QWidget>

#include <cstdint>

class AppConfig;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QSlider;

class ImageQualityForm : public QWidget {
    Q_OBJECT

public:
    ImageQualityForm(AppConfig& cfg, QWidget* parent);

    // The combo entry for a resolution: below med_dpi the first, equal the second, above
    // it the third.
    static int EntryForDpi(const AppConfig& cfg, int32_t dpi);
    static int32_t DpiForEntry(const AppConfig& cfg, int entry);

    // The sliders' values into the settings and config.ini.
    void Store();

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
