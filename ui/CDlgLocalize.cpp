#include "ui/CDlgLocalize.h"

#include "config/AppConfig.h"
#include "ui/UserPrompts.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QToolTip>
#include <QVariant>
#include <QWidget>

namespace {

const IniFile* g_language = nullptr;

const char* const kIdProperty = "controlId";
// Template texts kept per widget, one per kind of text.
const char* const kTextTemplate = "vmTextTemplate";
const char* const kTitleTemplate = "vmTitleTemplate";
const char* const kTooltipTemplate = "vmTooltipTemplate";
const char* const kAccessibleTemplate = "vmAccessibleTemplate";
const char* const kDescriptionTemplate = "vmDescriptionTemplate";
const char* const kPlaceholderTemplate = "vmPlaceholderTemplate";

// The accessible name of each "?" button, by its control id: it names the field the help
// is about, not the field's own label.
QString HelpButtonName(int id)
{
    switch (id) {
    case 290: return QStringLiteral("<#[COMMON:help_on_keywords]#>");
    case 291: return QStringLiteral("<#[COMMON:help_on_description]#>");
    case 292: return QStringLiteral("<#[COMMON:help_on_title]#>");
    case 293: return QStringLiteral("<#[COMMON:help_on_ftp]#>");
    case 294: return QStringLiteral("<#[COMMON:help_on_service]#>");
    default: return QString();
    }
}

const QString kOpen = QStringLiteral("<#[");
const QString kClose = QStringLiteral("]#>");

// Localises one text of a widget from its kept template (or its current text the first
// time) and sets it when the template holds a placeholder.
template <typename Getter, typename Setter>
void LocaliseOne(QWidget* widget, const char* property, Getter get, Setter set)
{
    QVariant kept = widget->property(property);
    const QString text = kept.isValid() ? kept.toString() : get().left(512);
    if (!CDlgLocalize::Parse(text).found)
        return;
    widget->setProperty(property, text);
    set(CDlgLocalize::LocaliseText(text));
}

}  // namespace

void SetControlId(QWidget* widget, int id)
{
    widget->setProperty(kIdProperty, id);
}

QToolButton* MakeHelpButton(QWidget* parent, int id, const char* object_name, const QString& accessible_name)
{
    constexpr int kBalloonMs = 3000;
    auto* help = new QToolButton(parent);
    help->setText(QStringLiteral("?"));
    help->setObjectName(QLatin1String(object_name));
    help->setFocusPolicy(Qt::StrongFocus);
    const QString name = HelpButtonName(id);
    help->setAccessibleName(name.isEmpty() ? accessible_name : name);
    SetControlId(help, id);
    QObject::connect(help, &QToolButton::clicked, help, [help] { CDlgLocalize::ShowHelpBalloon(help, kBalloonMs); });
    return help;
}

int ControlId(const QWidget* widget)
{
    QVariant id = widget->property(kIdProperty);
    return id.isValid() ? id.toInt() : 0;
}

void CDlgLocalize::SetLanguage(const IniFile* language)
{
    g_language = language;
}

const IniFile& CDlgLocalize::Language()
{
    return g_language ? *g_language : TheConfig().m_lang_ini;
}

QString CDlgLocalize::Lookup(const char* section, const char* key)
{
    return QString::fromStdString(Language().ReadWide(section, key)).left(kMaxTextLength);
}

Placeholder CDlgLocalize::Parse(const QString& text)
{
    Placeholder result;
    if (text.size() < 7)
        return result;
    const qsizetype start = text.indexOf(kOpen);
    if (start < 0)
        return result;
    const qsizetype end = text.indexOf(kClose, start + kOpen.size());
    if (end < 0)
        return result;
    const QString token = text.mid(start + kOpen.size(), end - start - kOpen.size());
    const qsizetype colon = token.indexOf(QLatin1Char(':'));
    result.found = true;
    result.section = colon < 0 ? QStringLiteral("COMMON") : token.left(colon);
    result.key = colon < 0 ? token : token.mid(colon + 1);
    result.prefix = text.left(start);
    result.suffix = text.mid(end + kClose.size());
    return result;
}

QString CDlgLocalize::LocaliseText(const QString& text)
{
    const Placeholder parsed = Parse(text);
    if (!parsed.found)
        return text;
    QString value = Lookup(parsed.section.toLatin1().constData(), parsed.key.toLatin1().constData());
    value.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    return parsed.prefix + value + parsed.suffix;
}

QString CDlgLocalize::StringResource(int id)
{
    switch (id) {
    case 290: return QStringLiteral("<#[TOOLTIP:keywords]#>");
    case 291: return QStringLiteral("<#[TOOLTIP:description]#>");
    case 292: return QStringLiteral("<#[TOOLTIP:title]#>");
    case 293: return QStringLiteral("<#[TOOLTIP:ftp_setting]#>");
    case 294: return QStringLiteral("<#[TOOLTIP:roruviza_setting]#>");
    default: return QString();
    }
}

void CDlgLocalize::LocaliseWindow(QWidget* widget)
{
    if (widget->isWindow())
        LocaliseOne(widget, kTitleTemplate, [widget] { return widget->windowTitle(); },
                    [widget](const QString& t) { widget->setWindowTitle(t); });
    if (auto* label = qobject_cast<QLabel*>(widget))
        LocaliseOne(widget, kTextTemplate, [label] { return label->text(); },
                    [label](const QString& t) { label->setText(t); });
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        LocaliseOne(widget, kTextTemplate, [button] { return button->text(); },
                    [button](const QString& t) { button->setText(t); });
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        LocaliseOne(widget, kTextTemplate, [group] { return group->title(); },
                    [group](const QString& t) { group->setTitle(t); });
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        LocaliseOne(widget, kPlaceholderTemplate, [edit] { return edit->placeholderText(); },
                    [edit](const QString& t) { edit->setPlaceholderText(t); });
    LocaliseOne(widget, kTooltipTemplate, [widget] { return widget->toolTip(); },
                [widget](const QString& t) { widget->setToolTip(t); });
    LocaliseOne(widget, kDescriptionTemplate, [widget] { return widget->accessibleDescription(); },
                [widget](const QString& t) { widget->setAccessibleDescription(t); });
    LocaliseOne(widget, kAccessibleTemplate, [widget] { return widget->accessibleName(); },
                [widget](const QString& t) {
                    // Screen readers read the name without the mnemonic marker.
                    QString name = t;
                    widget->setAccessibleName(name.remove(QLatin1Char('&')));
                });
}

void CDlgLocalize::SetTextTemplate(QWidget* widget, const QString& text_template)
{
    widget->setProperty(kTextTemplate, text_template);
    LocaliseWindow(widget);
}

void CDlgLocalize::LocaliseDialog(QWidget* dialog)
{
    LocaliseWindow(dialog);
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        const QString resource = StringResource(ControlId(child));
        if (!resource.isEmpty())
            child->setToolTip(LocaliseText(resource));
        LocaliseWindow(child);
    }
}

QMessageBox::StandardButton CDlgLocalize::MessageBoxByKey(QWidget* owner, const char* key,
                                                          QMessageBox::StandardButtons buttons,
                                                          QMessageBox::StandardButton default_button)
{
    PromptRequest request;
    request.icon = QMessageBox::Warning;
    request.caption = QStringLiteral("Vellumark");
    request.text = Lookup("MESSAGEBOX", key);
    request.buttons = buttons;
    request.default_button = default_button;
    return ShowPrompt(owner, request);
}

void CDlgLocalize::NoticeByKey(QWidget* owner, const char* key)
{
    PromptRequest request;
    request.icon = QMessageBox::Warning;
    request.caption = QStringLiteral("Vellumark");
    request.text = Lookup("MESSAGEBOX", key);
    ShowNotice(owner, request);
}

void CDlgLocalize::ShowHelpBalloon(QWidget* button, int display_ms)
{
    const QString text = LocaliseText(StringResource(ControlId(button)));
    QToolTip::hideText();
    const QPoint centre = button->mapToGlobal(button->rect().center());
    QToolTip::showText(centre, text, button, QRect(), display_ms);
}
