#include "ui/ImageQualityForm.h"

#include "config/AppConfig.h"
#include "ui/CDlgLocalize.h"

#include <QComboBox>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

ImageQualityForm::ImageQualityForm(AppConfig& cfg, QWidget* parent) : QWidget(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("imageQualityForm"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    page_quality_ = AddSetting(grid, 0, "page_quality", "recommended_25", 25, 85, cfg.m_preview_quality,
                               "pageQuality");
    page_smooth_ = AddSetting(grid, 1, "smooth_factor", "recommended_100", 0, 100, cfg.m_preview_smooth,
                              "pageSmooth");
    zoom_quality_ = AddSetting(grid, 2, "zoom_in_quality", "recommended_25", 25, 85, cfg.m_zoomin_quality,
                               "zoomQuality");
    zoom_smooth_ = AddSetting(grid, 3, "zoom_smooth_factor", "recommended_100", 0, 100, cfg.m_zoomin_smooth,
                              "zoomSmooth");

    auto* resolution_label = new QLabel(QStringLiteral("<#[IMG_QUALITY_SETTING:zoom_resolution]#>"), this);
    resolution_ = new QComboBox(this);
    resolution_->setObjectName(QStringLiteral("zoomResolutionCombo"));
    SetControlId(resolution_, 1092);
    for (const char* key : {"img_quality1", "img_quality2", "img_quality3"})
        resolution_->addItem(CDlgLocalize::Lookup("IMAGE_QUALITY", key).left(255));
    resolution_->setCurrentIndex(EntryForDpi(cfg, cfg.m_dpi));
    resolution_label->setBuddy(resolution_);
    resolution_->setAccessibleName(QStringLiteral("<#[IMG_QUALITY_SETTING:zoom_resolution]#>"));
    grid->addWidget(resolution_label, 4, 0);
    grid->addWidget(resolution_, 4, 1, 1, 2);
}

ImageQualityForm::Setting ImageQualityForm::AddSetting(QGridLayout* grid, int row, const char* label,
                                                       const char* hint, int minimum, int maximum, int value,
                                                       const char* name)
{
    const QString caption = QStringLiteral("<#[IMG_QUALITY_SETTING:%1]#>").arg(QLatin1String(label));
    auto* text = new QLabel(caption, this);
    Setting setting;
    setting.slider = new QSlider(Qt::Horizontal, this);
    setting.slider->setObjectName(QLatin1String(name) + QStringLiteral("Slider"));
    setting.slider->setRange(minimum, maximum);
    setting.slider->setValue(value);
    setting.slider->setMinimumWidth(160);
    setting.slider->setAccessibleName(caption);
    setting.edit = new QLineEdit(QString::number(setting.slider->value()), this);
    setting.edit->setObjectName(QLatin1String(name) + QStringLiteral("Edit"));
    setting.edit->setReadOnly(true);
    setting.edit->setValidator(new QIntValidator(0, 999, setting.edit));
    setting.edit->setMaximumWidth(setting.edit->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 16);
    setting.edit->setAccessibleName(caption);
    text->setBuddy(setting.slider);
    auto* recommended = new QLabel(QStringLiteral("<#[IMG_QUALITY_SETTING:%1]#>").arg(QLatin1String(hint)), this);
    QLineEdit* edit = setting.edit;
    connect(setting.slider, &QSlider::valueChanged, edit, [edit](int v) { edit->setText(QString::number(v)); });
    grid->addWidget(text, row, 0);
    grid->addWidget(setting.slider, row, 1);
    grid->addWidget(setting.edit, row, 2);
    grid->addWidget(recommended, row, 3);
    return setting;
}

int ImageQualityForm::EntryForDpi(const AppConfig& cfg, int32_t dpi)
{
    if (dpi < cfg.m_med_dpi)
        return 0;
    return dpi == cfg.m_med_dpi ? 1 : 2;
}

int32_t ImageQualityForm::DpiForEntry(const AppConfig& cfg, int entry)
{
    if (entry == 0)
        return cfg.m_low_dpi;
    return entry == 1 ? cfg.m_med_dpi : cfg.m_high_dpi;
}

void ImageQualityForm::Store()
{
    cfg_.m_dpi = DpiForEntry(cfg_, resolution_->currentIndex());
    // The sliders hold the values, always within their ranges; the boxes beside them
    // only show them.
    cfg_.m_preview_quality = page_quality_.slider->value();
    cfg_.m_preview_smooth = page_smooth_.slider->value();
    cfg_.m_zoomin_quality = zoom_quality_.slider->value();
    cfg_.m_zoomin_smooth = zoom_smooth_.slider->value();
    IniFile& ini = cfg_.m_config_ini;
    ini.WriteInt("general", "preview_quality", cfg_.m_preview_quality);
    ini.WriteInt("general", "preview_smooth", cfg_.m_preview_smooth);
    ini.WriteInt("general", "zoomin_quality", cfg_.m_zoomin_quality);
    ini.WriteInt("general", "zoomin_smooth", cfg_.m_zoomin_smooth);
    ini.WriteInt("general", "dpi", cfg_.m_dpi);
}
