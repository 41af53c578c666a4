// Parts the two publishing-target wizard pages share: the page header and the row of
// Help, Back, Next and Exit buttons with their control ids.
#pragma once

class QHBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

struct WizardButtons {
    QPushButton* help;
    QPushButton* back;
    QPushButton* next;
    QPushButton* exit;
};

// The header (id 1049): the page's font made bold and 5/4 as high.
QLabel* MakePageHeader(QWidget* page, const char* text);
// Help (9) on the left; Back (1046), Next (1, the default) and Exit (2) on the right.
WizardButtons MakeWizardButtons(QWidget* page, QHBoxLayout* row);
