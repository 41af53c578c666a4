// Parts every wizard page is built from: the bold page header, the navigation row
// (Help on the left; Back, Next and Exit on the right, each only where the page has
// it) with the control ids the mode tab control and the tests know, and the advert
// address the advert buttons open.
#pragma once

#include <QString>

class AppConfig;
class QBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

// The wizard's step codes.
enum WizardStep {
    kStepChoosePdf = 0,
    kStepImageQuality = 1,
    kStepMetadata = 2,
    kStepPublishMethod = 3,
    kStepLocalFolder = 4,
    kStepWebService = 5,
    kStepFtp = 6,
    kStepConvert = 7,
    kStepStartJob = 8,
    kStepSuccess = 9,
    kStepAdvert = 10,
};

struct WizardNavigation {
    QPushButton* help = nullptr;
    QPushButton* back = nullptr;
    QPushButton* next = nullptr;
    QPushButton* exit = nullptr;
};

enum WizardButton { kNavHelp = 1, kNavBack = 2, kNavNext = 4, kNavExit = 8, kNavAll = 15 };

// The header (id 1049): the page's font made bold and 5/4 as high.
QLabel* MakeWizardHeader(QWidget* page, const QString& text);
// A label in the page's font made bold.
void MakeBold(QWidget* widget);
// The navigation row with the buttons named in `buttons` (WizardButton flags), added to
// `layout`. Next is the default button.
WizardNavigation MakeWizardNavigation(QWidget* page, QBoxLayout* layout, int buttons);
// A push button with its control id and object name.
QPushButton* MakeWizardButton(QWidget* page, int id, const QString& text, const char* name);

// The page the advert buttons open: `advert_url` of section general in config.ini, else
// the publishing service's books address; empty when neither is set.
QString AdvertAddress(const AppConfig& cfg);
// Opens it; a failure is logged (module WizardDlg).
void OpenAdvert(const AppConfig& cfg);
// Keeps an advert button usable only while there is a page to open (else it says why).
void FollowAdvertAddress(const AppConfig& cfg, QWidget* button);
