#include "ui/wizard/CWizardDlg1.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "pipeline/EngineRun.h"
#include "ui/AccessibleRoles.h"
#include "ui/CDlgLocalize.h"
#include "ui/UserPrompts.h"
#include "ui/wizard/WizardPageKit.h"
#include "ui/wizard/WizardValues.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {
constexpr const char* kModule = "WizardDlg";
}  // namespace

CWizardDlg1::CWizardDlg1(AppConfig& cfg, WizardValues& values, QWidget* parent)
    : WizardPage(parent), cfg_(cfg), values_(values)
{
    setObjectName(QStringLiteral("wizardPdfPage"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[WIZARD1:header]#>")));
    // Says, after New book, that the job started before goes on.
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("jobNote"));
    note_->setWordWrap(true);
    note_->hide();
    layout->addWidget(note_);

    auto* label = new QLabel(QStringLiteral("<#[WIZARD1:selectpdf]#>"), this);
    label->setObjectName(QStringLiteral("selectPdfLabel"));
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    layout->addLayout(row);
    pdf_path_ = new QLineEdit(this);
    pdf_path_->setObjectName(QStringLiteral("pdfPathEdit"));
    SetControlId(pdf_path_, 1006);
    pdf_path_->setMaxLength(WizardValues::kPathLength);
    pdf_path_->setAccessibleName(QStringLiteral("<#[WIZARD1:selectpdf]#>"));
    pdf_path_->setMinimumWidth(pdf_path_->fontMetrics().averageCharWidth() * 50);
    label->setBuddy(pdf_path_);
    row->addWidget(pdf_path_, 1);
    QPushButton* browse = MakeWizardButton(this, 1064, QStringLiteral("<#[browse]#>"), "browseButton");
    row->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, &CWizardDlg1::Browse);

    // The drop area: a white box with a document icon and the bold hint.
    auto* area = new QFrame(this);
    area->setObjectName(QStringLiteral("dropArea"));
    SetControlId(area, 1124);
    // Assistive tools see a group named for what it is for, and where else to go.
    SetAccessibleRole(area, QAccessible::Grouping);
    area->setAccessibleName(QStringLiteral("<#[WIZARD1:drop_area]#>"));
    area->setFrameShape(QFrame::StyledPanel);
    area->setAutoFillBackground(true);
    QPalette white = area->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    area->setPalette(white);
    auto* area_layout = new QVBoxLayout(area);
    auto* icon = new QLabel(area);
    icon->setObjectName(QStringLiteral("dropIcon"));
    SetControlId(icon, 1137);
    const int icon_size = fontMetrics().height() * 3;
    icon->setPixmap(style()->standardIcon(QStyle::SP_FileIcon).pixmap(icon_size, icon_size));
    icon->setAlignment(Qt::AlignCenter);
    auto* hint = new QLabel(QStringLiteral("<#[WIZARD1:drag_drop]#>"), area);
    hint->setObjectName(QStringLiteral("dropHint"));
    SetControlId(hint, 1136);
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    MakeBold(hint);
    area_layout->addStretch(1);
    area_layout->addWidget(icon);
    area_layout->addWidget(hint);
    area_layout->addStretch(1);
    area->setMinimumHeight(icon_size + fontMetrics().height() * 4);
    layout->addWidget(area, 1);

    auto* advert_row = new QHBoxLayout;
    layout->addLayout(advert_row);
    QPushButton* advert = MakeWizardButton(this, 1153, QStringLiteral("<#[WIZARD1:advert]#>"), "advertButton");
    advert_row->addStretch(1);
    advert_row->addWidget(advert);
    connect(advert, &QPushButton::clicked, this, [this] { OpenAdvert(cfg_); });
    FollowAdvertAddress(cfg_, advert);

    const WizardNavigation nav = MakeWizardNavigation(this, layout, kNavHelp | kNavNext | kNavExit);
    connect(nav.next, &QPushButton::clicked, this, &CWizardDlg1::Next);
    connect(nav.exit, &QPushButton::clicked, this, &CWizardDlg1::ExitRequested);
    connect(nav.help, &QPushButton::clicked, this, &CWizardDlg1::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
    Refresh();
}

void CWizardDlg1::ShowNote(const QString& text)
{
    note_->setText(text);
    note_->setVisible(!text.isEmpty());
}

void CWizardDlg1::Refresh()
{
    pdf_path_->setText(values_.pdf_path);
}

bool CWizardDlg1::EngineThere(const char* what)
{
    if (PathExists(cfg_.m_engine_path))
        return true;
    DIAG(kModule, 0, "ERR:%s%s", what, cfg_.m_engine_path.c_str());
    PromptRequest request;
    request.caption = QStringLiteral("Vellumark");
    request.text = QLatin1String(what) + QString::fromStdString(cfg_.m_engine_path);
    ShowPrompt(this, request);
    return false;
}

void CWizardDlg1::Next()
{
    if (!EngineThere("Engine missing:"))
        return;
    const QString path = pdf_path_->text();
    const QFileInfo file(path);
    if (path.isEmpty() || !file.exists() || file.isDir()) {
        CDlgLocalize::MessageBoxByKey(this, "select_pdf");
        return;
    }
    values_.pdf_path = path;
    values_.page_count = values_.page_width = values_.page_height = 0;
    EngineDocInfo info;
    EngineRun::QueryInfo(cfg_.m_dpi, cfg_.m_engine_path, path.toStdString(), info);
    values_.page_count = info.page_count;
    values_.page_width = info.page_width;
    values_.page_height = info.page_height;
    if (info.page_count <= 0 || info.page_width <= 0 || info.page_height <= 0) {
        CDlgLocalize::MessageBoxByKey(this, "invalid_pdf");
        return;
    }
    values_.title = QString::fromStdString(info.title).left(WizardValues::kTextLength);
    values_.keywords = QString::fromStdString(info.tags).left(WizardValues::kTextLength);
    values_.description = QString::fromStdString(info.description).left(WizardValues::kDescriptionLength);
    hide();
    emit StepRequested(kStepImageQuality, 0);
}

void CWizardDlg1::Browse()
{
    const QString chosen = ChoosePdfFile(this, QString());
    if (!chosen.isEmpty())
        pdf_path_->setText(chosen);
    EngineThere("File missing:");
}

void CWizardDlg1::TakeDroppedFiles(const QList<QUrl>& urls)
{
    // A folder whose name ends in ".pdf" is no PDF; the name keeps its letter case,
    // which file names on Linux depend on.
    QString last;
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive) && !QFileInfo(path).isDir())
            last = path;
    }
    if (last.isEmpty()) {
        CDlgLocalize::MessageBoxByKey(this, "select_pdf");
        return;
    }
    pdf_path_->setText(last);
}

void CWizardDlg1::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CWizardDlg1::dropEvent(QDropEvent* event)
{
    TakeDroppedFiles(event->mimeData()->urls());
    event->acceptProposedAction();
}
