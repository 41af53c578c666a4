#include "ui/HelpGuide.h"

#include "config/AppConfig.h"
#include "ui/UserPrompts.h"
#include "ui/wizard/WizardPageKit.h"

#include <QString>

QUrl GuideAddress(const AppConfig& cfg, const char* section)
{
    QUrl guide = QUrl::fromLocalFile(QString::fromStdString(cfg.LoadedProgramFolder() + "help/index.html"));
    if (section && *section)
        guide.setFragment(QString::fromLatin1(section));
    return guide;
}

void OpenGuide(const AppConfig& cfg, const char* section, const char* module)
{
    OpenWithDesktop(GuideAddress(cfg, section), module);
}

const char* WizardHelpSection(int step_code)
{
    switch (step_code) {
    case kStepChoosePdf: return "wizard-pdf";
    case kStepImageQuality: return "wizard-quality";
    case kStepMetadata: return "wizard-metadata";
    case kStepPublishMethod: return "wizard-method";
    case kStepLocalFolder: return "wizard-local";
    case kStepWebService: return "wizard-service";
    case kStepFtp: return "wizard-ftp";
    case kStepConvert: return "wizard-convert";
    case kStepSuccess: return "wizard-done";
    case kStepAdvert: return "wizard-about";
    default: return "wizard";
    }
}
