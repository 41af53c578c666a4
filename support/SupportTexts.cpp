#include "support/SupportTexts.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

QString SupportTexts::Lookup(const QString& section, const QString& key) const
{
    QString value = QString::fromStdString(language_.ReadWide(section.toStdString(), key.toStdString()));
    return value.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

QString SupportTexts::Text(const char* key) const
{
    return Lookup(QString::fromLatin1(kSection), QString::fromLatin1(key));
}

QString SupportTexts::Localise(const QString& text) const
{
    static const QString kOpen = QStringLiteral("<#[");
    static const QString kClose = QStringLiteral("]#>");
    if (text.size() < 7)
        return text;
    const qsizetype start = text.indexOf(kOpen);
    if (start < 0)
        return text;
    const qsizetype end = text.indexOf(kClose, start + kOpen.size());
    if (end < 0)
        return text;
    const QString token = text.mid(start + kOpen.size(), end - start - kOpen.size());
    const qsizetype colon = token.indexOf(QLatin1Char(':'));
    const QString value = colon < 0 ? Lookup(QStringLiteral("COMMON"), token)
                                    : Lookup(token.left(colon), token.mid(colon + 1));
    return text.left(start) + value + text.mid(end + kClose.size());
}

void SupportTexts::LocaliseDialog(QWidget* dialog) const
{
    dialog->setWindowTitle(Localise(dialog->windowTitle()));
    for (QLabel* label : dialog->findChildren<QLabel*>())
        label->setText(Localise(label->text()));
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        button->setText(Localise(button->text()));
}
