#include "ui/wizard/PublishPageParts.h"

#include "ui/CDlgLocalize.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace {

QPushButton* MakeButton(QWidget* page, int id, const char* text, const char* name)
{
    auto* button = new QPushButton(QString::fromLatin1(text), page);
    button->setObjectName(QLatin1String(name));
    SetControlId(button, id);
    return button;
}

}  // namespace

QLabel* MakePageHeader(QWidget* page, const char* text)
{
    auto* header = new QLabel(QString::fromLatin1(text), page);
    header->setObjectName(QStringLiteral("pageHeader"));
    SetControlId(header, 1049);
    QFont font = header->font();
    font.setBold(true);
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 5 / 4);
    else
        font.setPixelSize(font.pixelSize() * 5 / 4);
    header->setFont(font);
    header->setWordWrap(true);
    return header;
}

WizardButtons MakeWizardButtons(QWidget* page, QHBoxLayout* row)
{
    WizardButtons buttons{};
    buttons.help = MakeButton(page, 9, "<#[help]#>", "helpButton");
    buttons.back = MakeButton(page, 1046, "<#[back]#>", "backButton");
    buttons.next = MakeButton(page, 1, "<#[next]#>", "nextButton");
    buttons.exit = MakeButton(page, 2, "<#[exit]#>", "exitButton");
    buttons.next->setDefault(true);
    row->addWidget(buttons.help);
    row->addStretch(1);
    row->addWidget(buttons.back);
    row->addWidget(buttons.next);
    row->addWidget(buttons.exit);
    return buttons;
}
