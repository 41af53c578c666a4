// Wizard page 9: where the finished book is. The book's cover beside one row per place
// the book went: the folder on this computer (with Open), the publishing service's
// address and the FTP web site's address (each with a button that opens the book there),
// and below them the code that shows the published book on another site. View opens the
// book, New job and Back start a new wizard run.
#pragma once

#include "ui/wizard/BookLocations.h"

#include "ui/wizard/WizardPage.h"

#include <string>

class AppConfig;
class EmbedCodeBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CWizardDlg7Success : public WizardPage {
    Q_OBJECT

public:
    static constexpr int kFieldLength = 4095;

    CWizardDlg7Success(AppConfig& cfg, QWidget* parent);

    // Fills the rows for the book `key`; a row is shown only when its field is set.
    void ShowBook(const std::string& key, const BookLocations& where);

    void Open();
    void BrowseService();
    void BrowseFtp();
    void View();
    void NewJob();

private:
    struct Row {
        QLabel* label;
        QLineEdit* edit;
        QPushButton* button;
    };
    Row AddRow(class QGridLayout* grid, int row, int label_id, int edit_id, int button_id, const char* button_key,
               const char* name);
    static void ShowRow(const Row& row, const QString& text);
    void ShowCover(const BookLocations& where);

    AppConfig& cfg_;
    std::string key_;
    Row local_{};
    Row service_{};
    Row ftp_{};
    QLabel* cover_ = nullptr;
    EmbedCodeBox* embed_ = nullptr;
};
