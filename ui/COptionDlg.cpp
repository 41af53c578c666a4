#include "ui/COptionDlg.h"

#include "ui/CDlgLocalize.h"
#include "ui/DialogButtons.h"
#include "ui/EmbedCodeBox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* AddField(QVBoxLayout* layout, QWidget* parent, const QString& caption, int max_length,
                    const char* name)
{
    auto* label = new QLabel(caption, parent);
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(max_length);
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 60);
    label->setBuddy(edit);
    edit->setAccessibleName(caption);
    layout->addWidget(label);
    layout->addWidget(edit);
    return edit;
}

}  // namespace

COptionDlg::COptionDlg(QWidget* parent, const PropertiesCaptions& captions) : QDialog(parent)
{
    setObjectName(QStringLiteral("propertiesDialog"));
    setWindowTitle(captions.caption);
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(captions.caption, this);
    heading->setObjectName(QStringLiteral("captionLabel"));
    heading->setWordWrap(true);
    layout->addWidget(heading);
    title_ = AddField(layout, this, captions.title, 512, "titleEdit");
    keywords_ = AddField(layout, this, captions.keywords, 512, "keywordsEdit");
    description_ = AddField(layout, this, captions.description, 1024, "descriptionEdit");
    embed_ = new EmbedCodeBox(this);
    layout->addWidget(embed_);
    connect(embed_, &EmbedCodeBox::PublishRequested, this, [this] {
        publish_requested_ = true;
        accept();
    });
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    layout->addWidget(buttons);
    CDlgLocalize::LocaliseDialog(this);
}

void COptionDlg::SetValues(const QString& title, const QString& keywords, const QString& description)
{
    title_->setText(title);
    keywords_->setText(keywords);
    description_->setText(description);
}

QString COptionDlg::Title() const { return title_->text(); }
QString COptionDlg::Keywords() const { return keywords_->text(); }
QString COptionDlg::Description() const { return description_->text(); }

void COptionDlg::ShowEmbedCodes(const AppConfig& cfg, const std::string& key)
{
    embed_->ShowBook(cfg, key);
    adjustSize();
}
