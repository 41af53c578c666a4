// The properties dialog: a book's title, keywords and description. The advanced page
// edits a stored job with it; the wizard asks for missing metadata with other captions.
#pragma once

#include <QDialog>
#include <QString>

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

private:
    QLineEdit* title_;
    QLineEdit* keywords_;
    QLineEdit* description_;
};
