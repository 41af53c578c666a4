// Every text the user sees comes from the language file (UTF-16LE INI, named by the
// configuration). Widgets are created with placeholders "<#[SECTION:key]#>" (a key alone
// means section COMMON); localising a widget replaces the first placeholder of its text
// by the stored value, with every backslash-n turned into a line break. The text with
// the placeholder is kept on the widget, so a widget can be localised again after the
// language file changed. A missing file or key gives an empty value.
#pragma once

#include <QMessageBox>
#include <QString>

class IniFile;
class QToolButton;
class QWidget;

// The numeric id of a control, kept as a property so that tooltips, commands and tests
// find it.
void SetControlId(QWidget* widget, int id);
int ControlId(const QWidget* widget);

// A "?" button with control id `id` that shows its help balloon when pressed. Screen
// readers name it for the field it helps with ("Help on title"), known by its id;
// `accessible_name` names a button whose id has no such name.
QToolButton* MakeHelpButton(QWidget* parent, int id, const char* object_name, const QString& accessible_name);

struct Placeholder {
    bool found = false;
    QString section;
    QString key;
    QString prefix;  // text before the placeholder
    QString suffix;  // text after it
};

class CDlgLocalize {
public:
    static constexpr int kMaxTextLength = 2047;

    // The language file the texts come from; by default the configuration's.
    static void SetLanguage(const IniFile* language);
    static const IniFile& Language();

    // The stored value as it is (no line-break rule), at most 2047 characters.
    static QString Lookup(const char* section, const char* key);
    static Placeholder Parse(const QString& text);
    // `text` with its first placeholder replaced and backslash-n made a line break.
    static QString LocaliseText(const QString& text);
    // The string-table text for a control id ("<#[TOOLTIP:title]#>" for 292); empty
    // when that id has none.
    static QString StringResource(int id);

    // Localises the widget's own texts: window title, label, button or group box text,
    // a line edit's placeholder text, tooltip, accessible name and description, each
    // from the template kept on the widget.
    static void LocaliseWindow(QWidget* widget);
    // Gives a label or button a new text template (a placeholder) and localises it, so
    // that a later localisation keeps the new text.
    static void SetTextTemplate(QWidget* widget, const QString& text_template);
    // Localises a dialog or page and every widget inside it, and gives each control
    // whose id has a string-table text its hover tooltip.
    static void LocaliseDialog(QWidget* dialog);

    // A message box with the text of `key` in section MESSAGEBOX, the caption
    // "Vellumark" and the exclamation icon. Returns the button pressed.
    static QMessageBox::StandardButton MessageBoxByKey(QWidget* owner, const char* key,
                                                       QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                       QMessageBox::StandardButton default_button =
                                                           QMessageBox::NoButton);
    // The same box as a notice that does not wait for OK (ShowNotice).
    static void NoticeByKey(QWidget* owner, const char* key);
    // Shows the localised string-table text of the "?" button as a balloon pointing at
    // the button's centre for `display_ms`; a balloon already shown is replaced.
    static void ShowHelpBalloon(QWidget* button, int display_ms);
};
