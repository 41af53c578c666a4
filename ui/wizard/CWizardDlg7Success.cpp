#include "ui/wizard/CWizardDlg7Success.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "pagegen/ShareTags.h"
#include "ui/BookOpener.h"
#include "ui/CDlgLocalize.h"
#include "ui/EmbedCodeBox.h"
#include "ui/UserPrompts.h"
#include "ui/wizard/WizardPageKit.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr const char* kModule = "WizardDlg";
}  // namespace

CWizardDlg7Success::CWizardDlg7Success(AppConfig& cfg, QWidget* parent) : WizardPage(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("wizardSuccessPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[WIZARD_CONVERTED:success]#>")));
    auto* book = new QHBoxLayout;
    layout->addLayout(book);
    cover_ = new QLabel(this);
    cover_->setObjectName(QStringLiteral("coverImage"));
    cover_->setAccessibleName(QStringLiteral("<#[WIZARD_CONVERTED:cover]#>"));
    cover_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    book->addWidget(cover_, 0, Qt::AlignTop);
    auto* grid = new QGridLayout;
    book->addLayout(grid, 1);
    local_ = AddRow(grid, 0, 1150, 1127, 1128, "open", "local");
    service_ = AddRow(grid, 2, 1151, 1129, 1130, "browse", "service");
    ftp_ = AddRow(grid, 4, 1152, 1131, 1133, "browse", "ftp");
    local_.label->setText(QStringLiteral("<#[WIZARD_CONVERTED:files_saved]#>"));
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(6, 1);  // the rows stay together at the top, beside the cover
    connect(local_.button, &QPushButton::clicked, this, &CWizardDlg7Success::Open);
    connect(service_.button, &QPushButton::clicked, this, &CWizardDlg7Success::BrowseService);
    connect(ftp_.button, &QPushButton::clicked, this, &CWizardDlg7Success::BrowseFtp);
    embed_ = new EmbedCodeBox(this);
    layout->addWidget(embed_);

    auto* commands = new QHBoxLayout;
    layout->addLayout(commands);
    QPushButton* view = MakeWizardButton(this, 1147, QStringLiteral("<#[WIZARD_CONVERTED:view]#>"), "viewButton");
    QPushButton* new_job =
        MakeWizardButton(this, 1146, QStringLiteral("<#[WIZARD_CONVERTED:new_job]#>"), "newJobButton");
    QPushButton* advert =
        MakeWizardButton(this, 1132, QStringLiteral("<#[WIZARD_CONVERTED:advert]#>"), "advertButton");
    commands->addWidget(view);
    commands->addWidget(new_job);
    commands->addStretch(1);
    commands->addWidget(advert);
    connect(view, &QPushButton::clicked, this, &CWizardDlg7Success::View);
    connect(new_job, &QPushButton::clicked, this, &CWizardDlg7Success::NewJob);
    connect(advert, &QPushButton::clicked, this, [this] { OpenAdvert(cfg_); });
    FollowAdvertAddress(cfg_, advert);
    layout->addStretch(1);

    const WizardNavigation nav = MakeWizardNavigation(this, layout, kNavHelp | kNavBack | kNavExit);
    connect(nav.back, &QPushButton::clicked, this, &CWizardDlg7Success::NewJob);
    connect(nav.exit, &QPushButton::clicked, this, &CWizardDlg7Success::ExitRequested);
    connect(nav.help, &QPushButton::clicked, this, &CWizardDlg7Success::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
    ShowBook({}, {});
}

CWizardDlg7Success::Row CWizardDlg7Success::AddRow(QGridLayout* grid, int row, int label_id, int edit_id,
                                                   int button_id, const char* button_key, const char* name)
{
    Row result;
    result.label = new QLabel(QStringLiteral("<#[WIZARD_CONVERTED:files_uploaded]#>"), this);
    result.label->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    SetControlId(result.label, label_id);
    result.edit = new QLineEdit(this);
    result.edit->setObjectName(QLatin1String(name) + QStringLiteral("Edit"));
    SetControlId(result.edit, edit_id);
    result.edit->setReadOnly(true);
    result.edit->setMaxLength(kFieldLength);
    result.edit->setMinimumWidth(result.edit->fontMetrics().averageCharWidth() * 50);
    result.label->setBuddy(result.edit);
    result.button = MakeWizardButton(this, button_id, QStringLiteral("<#[WIZARD_CONVERTED:%1]#>").arg(QLatin1String(button_key)),
                                     (std::string(name) + "Button").c_str());
    grid->addWidget(result.label, row, 0, 1, 2);
    grid->addWidget(result.edit, row + 1, 0);
    grid->addWidget(result.button, row + 1, 1);
    return result;
}

void CWizardDlg7Success::ShowRow(const Row& row, const QString& text)
{
    row.edit->setText(text);
    row.edit->setCursorPosition(0);
    row.edit->setToolTip(text);  // the whole address, also when the field is narrower
    for (QWidget* widget : {static_cast<QWidget*>(row.label), static_cast<QWidget*>(row.edit),
                            static_cast<QWidget*>(row.button)})
        widget->setVisible(!text.isEmpty());
}

void CWizardDlg7Success::ShowBook(const std::string& key, const BookLocations& where)
{
    key_ = key;
    ShowRow(local_, where.local_folder);
    ShowRow(service_, where.service_address);
    ShowRow(ftp_, where.ftp_address);
    ShowCover(where);
    embed_->ShowBook(cfg_, key);
}

void CWizardDlg7Success::ShowCover(const BookLocations& where)
{
    // The cover made by the conversion: in the books folder, or in the export folder.
    QPixmap cover;
    for (const QString& folder : {QString::fromStdString(JoinPath(cfg_.m_books_folder, key_)), where.local_folder}) {
        if (!key_.empty() && !folder.isEmpty() &&
            cover.load(folder + QLatin1Char('/') + QLatin1String(pagegen::kCoverFile)))
            break;
    }
    cover_->setPixmap(cover);
    cover_->setVisible(!cover.isNull());
}

void CWizardDlg7Success::Open()
{
    OpenWithDesktop(QUrl::fromLocalFile(local_.edit->text()), kModule);
}

void CWizardDlg7Success::BrowseService()
{
    OpenWithDesktop(QUrl(service_.edit->text()), kModule);
}

void CWizardDlg7Success::BrowseFtp()
{
    OpenWithDesktop(QUrl(ftp_.edit->text()), kModule);
}

void CWizardDlg7Success::View()
{
    if (!local_.edit->text().isEmpty())
        OpenWithDesktop(QUrl::fromLocalFile(local_.edit->text() + QStringLiteral("/index.html")), kModule);
    else if (!service_.edit->text().isEmpty())
        BrowseService();
    else if (!ftp_.edit->text().isEmpty())
        BrowseFtp();
    else if (!key_.empty())
        OpenBook(cfg_, key_, kModule);
}

void CWizardDlg7Success::NewJob()
{
    hide();
    emit StepRequested(kStepChoosePdf, 0);
}
