// The support dialog's texts from the main program's language file (UTF-16LE INI).
// Control texts in the dialog template hold placeholders "<#[SECTION:key]#>" (a key alone
// means section COMMON); the first placeholder of a text is replaced by the stored value,
// with every backslash-n in it turned into a line break. A missing file or key gives an
// empty value.
#pragma once

#include "config/IniFile.h"

#include <QString>

class QWidget;

class SupportTexts {
public:
    static constexpr const char* kSection = "SUPPORT";

    explicit SupportTexts(const std::string& language_path) : language_(language_path) {}

    // The value of `key` in section SUPPORT, line breaks applied.
    QString Text(const char* key) const;
    // `text` with its first placeholder replaced; unchanged when it holds none.
    QString Localise(const QString& text) const;
    // Localises the window title and the text of every label and button inside it.
    void LocaliseDialog(QWidget* dialog) const;

private:
    QString Lookup(const QString& section, const QString& key) const;
    IniFile language_;
};
