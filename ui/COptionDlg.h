// The properties dialog: a book's title, keywords and description, and for a published
// book the code that shows it on another site. The advanced page edits a stored job with
// it; the wizard asks for missing metadata with other captions.
#pragma once

#include <QDialog>
#include <QString>

#include <string>

class AppConfig;
class EmbedCodeBox;
class QLineEdit;

// The caption line and the three labels (placeholders of the language file).
struct PropertiesCaptions {
    QString caption = QStringLiteral("<#[PROPERTIES:dlg_caption]#>");
    QString title = QStringLiteral("<#[PROPERTIES:title]#>");
    QString keywords = QStringLiteral("<#[PROPERTIES:keywords]#>");
    QString description = QStringLiteral("<#[PROPERTIES:description]#>");
};

class COptionDlg : public QDialog {
    Q_OBJECT

public:
    COptionDlg(QWidget* parent, const PropertiesCaptions& captions = PropertiesCaptions());

    void SetValues(const QString& title, const QString& keywords, const QString& description);
    QString Title() const;
    QString Keywords() const;
    QString Description() const;
    // Shows the embed code of the stored book `key` where it is published.
    void ShowEmbedCodes(const AppConfig& cfg, const std::string& key);
    // True when the dialog was closed with Publish... (a book whose upload has not
    // finished); its texts count as accepted.
    bool PublishRequested() const { return publish_requested_; }

private:
    QLineEdit* title_;
    QLineEdit* keywords_;
    QLineEdit* description_;
    EmbedCodeBox* embed_;
    bool publish_requested_ = false;
};
