// The image quality and book toolbar dialogs: what they show for the stored settings,
// what OK writes and what Cancel leaves alone; the scan of the toolbar language list.
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvOptDlg.h"
#include "ui/CCfgSkinDlg.h"
#include "ui/SkinLanguageList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

class SettingsDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void qualityDialogShowsAndStoresTheSettings();
    void qualityDialogCancelStoresNothing();
    void qualityBoxesCannotStoreValuesOutOfRange();
    void languageListIsScannedAsText();
    void toolbarDialogStoresTheChoices();
};

void SettingsDialogsTest::qualityDialogShowsAndStoresTheSettings()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    QCOMPARE(CAdvOptDlg::EntryForDpi(cfg, cfg.m_med_dpi), 1);
    QCOMPARE(CAdvOptDlg::EntryForDpi(cfg, cfg.m_med_dpi - 1), 0);
    QCOMPARE(CAdvOptDlg::EntryForDpi(cfg, cfg.m_med_dpi + 1), 2);

    cfg.m_dpi = (cfg.m_low_dpi + cfg.m_med_dpi) / 2;  // between two entries
    CAdvOptDlg dialog(cfg, nullptr);
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("zoomResolutionCombo"));
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->currentIndex(), 0);
    auto* quality = dialog.findChild<QSlider*>(QStringLiteral("pageQualitySlider"));
    auto* smooth = dialog.findChild<QSlider*>(QStringLiteral("zoomSmoothSlider"));
    QCOMPARE(quality->minimum(), 25);
    QCOMPARE(quality->maximum(), 85);
    QCOMPARE(smooth->minimum(), 0);
    QCOMPARE(smooth->maximum(), 100);
    quality->setValue(quality->minimum());
    smooth->setValue(0);
    QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("pageQualityEdit"))->text(), QStringLiteral("25"));
    QVERIFY(dialog.findChild<QLineEdit*>(QStringLiteral("pageQualityEdit"))->isReadOnly());
    QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("zoomSmoothEdit"))->text(), QStringLiteral("0"));
    dialog.accept();
    // The entry stands for low_dpi, so saving stores exactly that.
    QCOMPARE(cfg.m_dpi, cfg.m_low_dpi);
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "dpi"), cfg.m_low_dpi);
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "preview_quality"), 25);
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "zoomin_smooth"), 0);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void SettingsDialogsTest::qualityDialogCancelStoresNothing()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    const std::string before = ReadFileBytes(cfg.m_config_ini.Path());
    const int32_t quality_before = cfg.m_preview_quality;
    CAdvOptDlg dialog(cfg, nullptr);
    dialog.findChild<QSlider*>(QStringLiteral("pageQualitySlider"))->setValue(80);
    dialog.reject();
    QCOMPARE(cfg.m_preview_quality, quality_before);
    QCOMPARE(ReadFileBytes(cfg.m_config_ini.Path()), before);
}

void SettingsDialogsTest::qualityBoxesCannotStoreValuesOutOfRange()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    CAdvOptDlg dialog(cfg, nullptr);
    dialog.findChild<QSlider*>(QStringLiteral("pageQualitySlider"))->setValue(60);
    dialog.findChild<QSlider*>(QStringLiteral("zoomQualitySlider"))->setValue(40);
    dialog.findChild<QSlider*>(QStringLiteral("pageSmoothSlider"))->setValue(0);
    dialog.findChild<QSlider*>(QStringLiteral("zoomSmoothSlider"))->setValue(100);
    // Text put into the read-only boxes (as an assistive tool or a script can) is not
    // what gets stored: the sliders are.
    const std::pair<const char*, const char*> writes[] = {
        {"pageQualityEdit", "999"}, {"zoomQualityEdit", "-5"}, {"pageSmoothEdit", "abc"}, {"zoomSmoothEdit", "999"}};
    for (auto [name, text] : writes)
        dialog.findChild<QLineEdit*>(QLatin1String(name))->setText(QLatin1String(text));
    dialog.accept();
    QCOMPARE(cfg.m_preview_quality, 60);
    QCOMPARE(cfg.m_zoomin_quality, 40);
    QCOMPARE(cfg.m_preview_smooth, 0);
    QCOMPARE(cfg.m_zoomin_smooth, 100);
    QCOMPARE(cfg.m_config_ini.ReadRaw("general", "preview_quality"), std::string("60"));
    QCOMPARE(cfg.m_config_ini.ReadRaw("general", "zoomin_quality"), std::string("40"));
    QCOMPARE(cfg.m_config_ini.ReadRaw("general", "preview_smooth"), std::string("0"));
    QCOMPARE(cfg.m_config_ini.ReadRaw("general", "zoomin_smooth"), std::string("100"));
}

void SettingsDialogsTest::languageListIsScannedAsText()
{
    const std::vector<SkinLanguage> entries = ScanSkinLanguages(
        "<languages><language description=\"English\">en.asp</language>\n"
        "<language id=\"2\" description=\"Français\">   fr.asp</language>"
        "<language description=\"Two words\">de.asp trailing</language><language description=\"cut");
    QCOMPARE(entries.size(), size_t(3));
    QCOMPARE(entries[0].name, std::string("English"));
    QCOMPARE(entries[0].file_name, std::string("en.asp"));
    QCOMPARE(entries[1].name, std::string("Français"));
    QCOMPARE(entries[1].file_name, std::string("fr.asp"));
    QCOMPARE(entries[2].file_name, std::string("de.asp"));
    QVERIFY(ScanSkinLanguages("no entries here").empty());
}

void SettingsDialogsTest::toolbarDialogStoresTheChoices()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    cfg.m_config_ini.WriteText("skin", "skin_logotxt", "Kept text");
    cfg.m_skin_logotxt = "Kept text";
    cfg.m_skin_useownlogo = 0;
    cfg.m_config_ini.WriteText("skin", "skin_lang", "Français");
    {
        CCfgSkinDlg dialog(cfg, nullptr);
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("languageCombo"));
        QVERIFY(combo->count() >= 2);
        QCOMPARE(combo->currentText(), QStringLiteral("Français"));
        QVERIFY(!dialog.findChild<QLineEdit*>(QStringLiteral("homeTextEdit"))->isEnabled());
        dialog.findChild<QLineEdit*>(QStringLiteral("homeTextEdit"))->setText(QStringLiteral("Ignored"));
        dialog.findChild<QCheckBox*>(QStringLiteral("useEmailCheck"))->setChecked(true);
        auto* offer = dialog.findChild<QCheckBox*>(QStringLiteral("offerPdfCheck"));
        QVERIFY(!offer->isChecked());  // the PDF stays on this computer unless the publisher says so
        offer->setChecked(true);
        combo->setCurrentText(QStringLiteral("English"));
        dialog.accept();
    }
    QCOMPARE(cfg.m_config_ini.ReadInt("skin", "skin_usemail"), 1);
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "upload_pdf"), 1);
    QCOMPARE(cfg.m_upload_pdf, 1);
    QCOMPARE(cfg.m_config_ini.ReadInt("skin", "skin_useownlogo"), 0);
    // With the own link off the stored link stays as it was.
    QCOMPARE(cfg.m_config_ini.ReadText("skin", "skin_logotxt", 260), std::string("Kept text"));
    QCOMPARE(cfg.m_config_ini.ReadText("skin", "skin_lang", 260), std::string("English"));
    QCOMPARE(cfg.m_config_ini.ReadText("skin", "lang_filename", 260), std::string("en.asp"));

    // The own link on: text and address are stored.
    CCfgSkinDlg dialog(cfg, nullptr);
    dialog.findChild<QCheckBox*>(QStringLiteral("useHomeCheck"))->setChecked(true);
    QVERIFY(dialog.findChild<QLineEdit*>(QStringLiteral("homeTextEdit"))->isEnabled());
    dialog.findChild<QLineEdit*>(QStringLiteral("homeUrlEdit"))->setText(QStringLiteral("https://example.org/"));
    dialog.accept();
    QCOMPARE(cfg.m_config_ini.ReadText("skin", "skin_logourl", 260), std::string("https://example.org/"));
}

QTEST_MAIN(SettingsDialogsTest)
#include "SettingsDialogsTest.moc"
