// The ready-to-copy code that shows a published book inside another site's page: one
// row per address the book is published at (the publishing service, the FTP web site),
// each with the code and a Copy button that puts it on the clipboard. The wizard's last
// page and the properties dialog both show it; it hides itself for a book published
// nowhere. For a book whose upload has not finished it shows why there is no code and a
// Publish... button that continues the upload.
#pragma once

#include <QWidget>

#include <string>

class AppConfig;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class EmbedCodeBox : public QWidget {
    Q_OBJECT

public:
    explicit EmbedCodeBox(QWidget* parent);

    // Fills the rows for the book `key` from its job record; an empty key hides the box.
    void ShowBook(const AppConfig& cfg, const std::string& key);

signals:
    // Publish... was pressed for a book whose upload has not finished.
    void PublishRequested();

private:
    struct Row {
        QLabel* label;
        QPlainTextEdit* code;
        QPushButton* copy;
    };
    Row AddRow(const char* target, const char* name);
    void Fill(const Row& row, const std::string& code);
    void Copy(const Row& row);

    Row service_{};
    Row ftp_{};
    QLabel* copied_ = nullptr;
    QLabel* unfinished_ = nullptr;
    QPushButton* publish_ = nullptr;
};
