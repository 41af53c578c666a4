// The book toolbar's choices as the toolbar dialog and the wizard's local-folder and FTP
// pages show them: the e-mail and note buttons, whether the PDF is published beside the
// book with a download button, an own home link with its text and
// address (editable only while the link is on), and the toolbar's language. Every place
// uses the same control ids.
#pragma once

#include <memory>

class AppConfig;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QVBoxLayout;
class QWidget;

class ToolbarOptions {
public:
    // Adds the four check boxes to `layout`, then a form with the link's two fields and
    // the language choice (the languages of the skin in the books folder).
    ToolbarOptions(const AppConfig& cfg, QWidget* parent, QVBoxLayout* layout);

    // A wizard page's "Book toolbar" group, added to `layout`: the own link and the
    // language, as the e-mail and note buttons and the PDF are chosen in the toolbar dialog (their
    // state is kept).
    static std::unique_ptr<ToolbarOptions> InWizardGroup(const AppConfig& cfg, QWidget* page, QVBoxLayout* layout);

    // The form of the link's fields, for callers that add rows of their own.
    QFormLayout* Form() const { return form_; }
    // Stores the choices in the settings and config.ini. While the own link is off its
    // stored text and address are kept, ready for when it is on again. The language is
    // stored as its name and file name; with no language list both stay as they were.
    void Store(AppConfig& cfg) const;

private:
    QCheckBox* use_email_;
    QCheckBox* use_note_;
    QCheckBox* offer_pdf_;
    QCheckBox* use_home_;
    QLineEdit* home_text_;
    QLineEdit* home_url_;
    QComboBox* language_;
    QFormLayout* form_;
};
