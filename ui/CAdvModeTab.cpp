#include "ui/CAdvModeTab.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "pipeline/EngineRun.h"
#include "pipeline/JobTable.h"
#include "pipeline/SubmitJob.h"
#include "ui/CAdvOptDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/PublishingTarget.h"
#include "ui/CNetworkDlg.h"
#include "ui/PdfListView.h"
#include "ui/UserPrompts.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr const char* kModule = "AdvModeTab";
// How often a restart waiting for its jobs to stop looks at them.
constexpr int kRestartPollMs = 100;
constexpr int kToolbarIconSize = 32;

struct ToolbarEntry {
    int command;
    const char* key;
    QStyle::StandardPixmap icon;
    const char* name;
};
constexpr ToolbarEntry kToolbar[] = {
    {CAdvModeTab::kRestart, "btn_restart", QStyle::SP_BrowserReload, "restartButton"},
    {CAdvModeTab::kStop, "btn_stop", QStyle::SP_MediaStop, "stopButton"},
    {CAdvModeTab::kResume, "btn_resume", QStyle::SP_MediaPlay, "resumeButton"},
    {CAdvModeTab::kProperties, "btn_properties", QStyle::SP_FileDialogDetailedView, "propertiesButton"},
    {CAdvModeTab::kPreview, "btn_preview", QStyle::SP_FileDialogContentsView, "previewButton"},
    {CAdvModeTab::kDirectory, "btn_directory", QStyle::SP_DirOpenIcon, "directoryButton"},
    {CAdvModeTab::kDelete, "btn_delete", QStyle::SP_TrashIcon, "deleteButton"},
    {CAdvModeTab::kExport, "btn_export", QStyle::SP_DialogSaveButton, "exportButton"},
    {CAdvModeTab::kHelp, "btn_help", QStyle::SP_DialogHelpButton, "helpButton"},
    {CAdvModeTab::kExit, "btn_exit", QStyle::SP_DialogCloseButton, "exitButton"},
};

// The style's icons come in different sizes and an icon is never drawn larger than its
// largest picture: each is scaled to the toolbar's size so that all of them match.
QIcon OneSizeIcon(const QIcon& icon, int size)
{
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap picture = icon.pixmap(QSize(size, size), ratio);
    if (picture.deviceIndependentSize() != QSizeF(size, size)) {
        const int pixels = qRound(size * ratio);
        picture = picture.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        picture.setDevicePixelRatio(ratio);
    }
    return QIcon(picture);
}

QLabel* MakeLabel(QWidget* parent, int id, const char* text, const char* name)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QLatin1String(name));
    SetControlId(label, id);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, int id, int max_length, const char* accessible, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    SetControlId(edit, id);
    edit->setMaxLength(max_length);
    edit->setAccessibleName(QString::fromLatin1(accessible));
    return edit;
}

QPushButton* MakeButton(QWidget* parent, int id, const char* text, const char* name)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QLatin1String(name));
    SetControlId(button, id);
    return button;
}

}  // namespace

CAdvModeTab::CAdvModeTab(AppConfig& cfg, JobTable& table, JobObserver* notify, QWidget* parent)
    : QWidget(parent), cfg_(cfg), table_(table), notify_(notify)
{
    setObjectName(QStringLiteral("advancedPage"));
    setAcceptDrops(true);
    LoadListTexts();
    BuildControls();
    CDlgLocalize::LocaliseDialog(this);
    RefreshUploadLabel();
    restart_timer_.setInterval(kRestartPollMs);
    connect(&restart_timer_, &QTimer::timeout, this, &CAdvModeTab::RestartStoppedJobs);
}

CAdvModeTab::~CAdvModeTab()
{
    // The list views read the lists (members, gone before the child widgets are): the
    // views go first, so that neither they nor their models touch a list that is gone.
    delete queue_view_;
    delete processed_view_;
}

void CAdvModeTab::BuildControls()
{
    auto* page = new QVBoxLayout(this);
    toolbar_ = BuildToolbar();
    page->addWidget(toolbar_);

    auto* grid = new QGridLayout;
    page->addLayout(grid);
    auto* select_label = MakeLabel(this, 1007, "<#[ADVANCED:selectpdf]#>", "selectPdfLabel");
    pdf_path_ = MakeEdit(this, 1006, 4095, "<#[ADVANCED:selectpdf]#>", "pdfPathEdit");
    auto* browse = MakeButton(this, 1064, "<#[browse]#>", "browseButton");
    select_label->setBuddy(pdf_path_);
    grid->addWidget(select_label, 0, 0);
    grid->addWidget(pdf_path_, 0, 1);
    grid->addWidget(browse, 0, 2);
    connect(browse, &QPushButton::clicked, this, &CAdvModeTab::Browse);

    struct Field {
        int label_id, edit_id, help_id, length;
        const char* label;
        const char* label_name;
        const char* edit_name;
        const char* help_name;
        QLineEdit** edit;
    };
    const Field fields[] = {
        {1008, 1003, 292, 512, "<#[title_header]#>", "titleLabel", "titleEdit", "titleHelpButton", &title_},
        {1009, 1004, 290, 512, "<#[keywords_header]#>", "keywordsLabel", "keywordsEdit", "keywordsHelpButton",
         &keywords_},
        {1060, 1005, 291, 1024, "<#[description_header]#>", "descriptionLabel", "descriptionEdit",
         "descriptionHelpButton", &description_},
    };
    int row = 1;
    for (const Field& field : fields) {
        auto* label = MakeLabel(this, field.label_id, field.label, field.label_name);
        *field.edit = MakeEdit(this, field.edit_id, field.length, field.label, field.edit_name);
        label->setBuddy(*field.edit);
        auto* help = MakeHelpButton(this, field.help_id, field.help_name, QString::fromLatin1(field.label));
        grid->addWidget(label, row, 0);
        grid->addWidget(*field.edit, row, 1);
        grid->addWidget(help, row, 2, Qt::AlignLeft);
        ++row;
    }
    grid->setColumnStretch(1, 1);

    auto* actions = new QHBoxLayout;
    page->addLayout(actions);
    auto* convert = MakeButton(this, 1299, "<#[ADVANCED:connvert_upload]#>", "convertButton");
    convert_button_ = convert;
    auto* quality = MakeButton(this, 1094, "<#[ADVANCED:img_quality_setup]#>", "qualityButton");
    auto* destination = MakeButton(this, 1093, "<#[ADVANCED:save_destination]#>", "destinationButton");
    upload_label_ = MakeLabel(this, 1011, "", "uploadLabel");
    actions->addWidget(convert);
    actions->addWidget(upload_label_, 1);
    actions->addWidget(quality);
    actions->addWidget(destination);
    connect(convert, &QPushButton::clicked, this, &CAdvModeTab::ConvertAndUpload);
    connect(quality, &QPushButton::clicked, this, [this] {
        CAdvOptDlg dialog(cfg_, this);
        dialog.exec();
    });
    connect(destination, &QPushButton::clicked, this, [this] {
        CNetworkDlg dialog(cfg_, this);
        if (dialog.exec() == QDialog::Accepted)
            RefreshUploadLabel();
    });

    auto* queue_label = MakeLabel(this, 1037, "<#[ADVANCED:process_queue]#>", "queueLabel");
    queue_view_ = new CPdfListView(queue_, this);
    queue_view_->setObjectName(QStringLiteral("queueList"));
    SetControlId(queue_view_, 1020);
    queue_view_->setAccessibleName(QStringLiteral("<#[ADVANCED:process_queue]#>"));
    queue_label->setBuddy(queue_view_);
    auto* processed_label = MakeLabel(this, 1038, "<#[ADVANCED:processed_pdf]#>", "processedLabel");
    processed_label->setAlignment(Qt::AlignCenter);
    processed_view_ = new CPdfListView(processed_, this);
    processed_view_->setObjectName(QStringLiteral("processedList"));
    SetControlId(processed_view_, 1022);
    processed_view_->setAccessibleName(QStringLiteral("<#[ADVANCED:processed_pdf]#>"));
    processed_label->setBuddy(processed_view_);
    page->addWidget(queue_label);
    page->addWidget(queue_view_, 1);
    page->addSpacing(6);
    page->addWidget(processed_label);
    page->addWidget(processed_view_, 1);
    // The commands on a processed book stand under its list (the toolbar has no room
    // left at the window's size), and its context menu offers them too.
    book_commands_ = BuildBookCommands();
    page->addWidget(book_commands_);
    connect(queue_view_, &CPdfListView::Activated, this, [this] { processed_active_ = false; });
    connect(processed_view_, &CPdfListView::Activated, this, [this] { processed_active_ = true; });
    // A selection made without a click or focus (by an assistive tool, say) makes its list
    // the one the commands act on, as a click would.
    connect(queue_view_, &CPdfListView::RowsSelected, this, [this] { processed_active_ = false; });
    connect(processed_view_, &CPdfListView::RowsSelected, this, [this] { processed_active_ = true; });
    processed_view_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(processed_view_, &QWidget::customContextMenuRequested, this, &CAdvModeTab::ShowProcessedMenu);
}

QWidget* CAdvModeTab::BuildBookCommands()
{
    struct Entry {
        int command;
        const char* text;
        const char* tooltip;
        const char* name;
    };
    const Entry entries[] = {
        {kUpdateBook, "<#[ADVANCED:btn_update_book]#>", "<#[TOOLTIP:update_book]#>", "updateBookButton"},
        {kPublishBook, "<#[ADVANCED:btn_publish_book]#>", "<#[TOOLTIP:publish_book]#>", "publishBookButton"},
    };
    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("bookCommands"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    for (const Entry& entry : entries) {
        auto* button = MakeButton(row, entry.command, entry.text, entry.name);
        button->setToolTip(QString::fromLatin1(entry.tooltip));
        button->setAccessibleName(QString::fromLatin1(entry.text));
        button->setFocusPolicy(Qt::StrongFocus);
        const int command = entry.command;
        connect(button, &QPushButton::clicked, this, [this, command] { RunCommand(command); });
        layout->addWidget(button);
    }
    return row;
}

void CAdvModeTab::ShowProcessedMenu(const QPoint& at)
{
    processed_active_ = true;
    QMenu menu(this);
    menu.addAction(CDlgLocalize::Lookup("ADVANCED", "btn_update_book"), this, &CAdvModeTab::UpdateBook);
    menu.addAction(CDlgLocalize::Lookup("ADVANCED", "btn_publish_book"), this, &CAdvModeTab::PublishBook);
    menu.exec(processed_view_->viewport()->mapToGlobal(at));
}

QPushButton* CAdvModeTab::BookCommandButton(int command) const
{
    for (QPushButton* button : book_commands_->findChildren<QPushButton*>())
        if (ControlId(button) == command)
            return button;
    return nullptr;
}

QWidget* CAdvModeTab::BuildToolbar()
{
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("commandToolbar"));
    SetControlId(bar, 9999);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (const ToolbarEntry& entry : kToolbar) {
        auto* button = new QToolButton(bar);
        button->setObjectName(QLatin1String(entry.name));
        SetControlId(button, entry.command);
        button->setText(QStringLiteral("<#[ADVANCED:%1]#>").arg(QLatin1String(entry.key)));
        button->setIcon(OneSizeIcon(style()->standardIcon(entry.icon), kToolbarIconSize));
        button->setIconSize(QSize(kToolbarIconSize, kToolbarIconSize));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setToolTip(QStringLiteral("<#[TOOLTIP:%1]#>").arg(QLatin1String(entry.key)));
        const int command = entry.command;
        connect(button, &QToolButton::clicked, this, [this, command] { RunCommand(command); });
        layout->addWidget(button);
    }
    layout->addStretch(1);
    return bar;
}

QToolButton* CAdvModeTab::CommandButton(int command) const
{
    for (QToolButton* button : toolbar_->findChildren<QToolButton*>())
        if (ControlId(button) == command)
            return button;
    return nullptr;
}

void CAdvModeTab::LoadListTexts()
{
    CPdfItemList::StateTexts states;
    CPdfItemList::ResultTexts results;
    for (size_t i = 0; i < states.size(); ++i)
        states[i] = CDlgLocalize::Lookup("PROCESS_MSG", ("process_" + std::to_string(i + 1)).c_str()).toStdString();
    for (size_t i = 0; i < results.size(); ++i)
        results[i] = CDlgLocalize::Lookup("PROCESS_MSG", ("error_" + std::to_string(i + 1)).c_str()).toStdString();
    queue_.SetTexts(states, results);
    processed_.SetTexts(states, results);
    const std::string failed = CDlgLocalize::Lookup("PROCESS_MSG", "state_failed").toStdString();
    const std::string stopped = CDlgLocalize::Lookup("PROCESS_MSG", "state_stopped").toStdString();
    queue_.SetEndTexts(failed, stopped);
    processed_.SetEndTexts(failed, stopped);
}

void CAdvModeTab::BuildLists()
{
    queue_.Build(cfg_.m_meta_ini);
    processed_.Build(cfg_.m_meta_ini);
}

void CAdvModeTab::Relocalise()
{
    LoadListTexts();
    CDlgLocalize::LocaliseDialog(this);
    RefreshUploadLabel();
    queue_view_->Model()->RefreshHeaders();
    processed_view_->Model()->RefreshHeaders();
    queue_view_->viewport()->update();
    processed_view_->viewport()->update();
}

void CAdvModeTab::RefreshUploadLabel()
{
    const bool ftp = cfg_.m_use_ftp == 1;
    const bool service = cfg_.m_use_vazirudu == 1;
    // The button says what it does: converting only, when books stay on this computer.
    CDlgLocalize::SetTextTemplate(convert_button_, ftp || service ? QStringLiteral("<#[ADVANCED:connvert_upload]#>")
                                                                  : QStringLiteral("<#[ADVANCED:convert_only]#>"));
    upload_label_->setText(DescribePublishingTarget(CurrentPublishingTarget(cfg_)));
}

void CAdvModeTab::RefreshQueue()
{
    queue_.Refresh(table_);
    processed_.Refresh(table_);
    queue_.MoveFinishedTo(processed_);
    table_.RecountRunning();
    table_.StartPendingJobs();
}

void CAdvModeTab::Browse()
{
    const QString chosen = ChoosePdfFile(this, QString());
    if (chosen.isEmpty())
        return;
    pdf_path_->setText(chosen);
    if (!PathExists(cfg_.m_engine_path)) {
        DIAG(kModule, 0, "ERR:PDF engine missing:%s", cfg_.m_engine_path.c_str());
        PromptRequest request;
        request.caption = QStringLiteral("Engine Missing");
        request.text = QStringLiteral("PDF engine missing:%1").arg(QString::fromStdString(cfg_.m_engine_path));
        ShowPrompt(this, request);
        return;
    }
    EngineDocInfo info;
    EngineRun::QueryInfo(cfg_.m_dpi, cfg_.m_engine_path, chosen.toStdString(), info);
    page_count_ = info.page_count;
    page_width_ = info.page_width;
    page_height_ = info.page_height;
    title_->setText(QString::fromStdString(info.title));
    keywords_->setText(QString::fromStdString(info.tags));
    description_->setText(QString::fromStdString(info.description));
}

void CAdvModeTab::ConvertAndUpload()
{
    SubmitRequest request;
    request.pdf_path = pdf_path_->text().toStdString();
    if (request.pdf_path.empty() || !PathExists(request.pdf_path) || IsFolder(request.pdf_path)) {
        Message("select_pdf");
        return;
    }
    // The page values are read again: the file may have changed since Browse.
    EngineDocInfo info;
    EngineRun::QueryInfo(cfg_.m_dpi, cfg_.m_engine_path, request.pdf_path, info);
    page_count_ = info.page_count;
    page_width_ = info.page_width;
    page_height_ = info.page_height;
    if (page_count_ <= 0 || page_width_ <= 0 || page_height_ <= 0) {
        Message("invalid_pdf");
        return;
    }
    // A path typed or dropped has not filled the fields yet: each one the user has not
    // typed into takes the PDF's own value, as Browse does.
    const std::pair<QLineEdit*, const std::string*> from_pdf[] = {
        {title_, &info.title}, {keywords_, &info.tags}, {description_, &info.description}};
    for (const auto& [field, value] : from_pdf)
        if (!field->isModified())
            field->setText(QString::fromStdString(*value));
    request.title = title_->text().toStdString();
    request.tags = keywords_->text().toStdString();
    request.description = description_->text().toStdString();
    if (cfg_.m_use_vazirudu == 1 &&
        (request.title.empty() || request.tags.empty() || request.description.empty())) {
        Message("meta_data_required");
        return;
    }
    request.pagenum = page_count_;
    request.pagewidth = page_width_;
    request.pageheight = page_height_;
    TakeClassificationFrom(cfg_, request);
    // A full table would leave a job record and a row that no worker ever takes up:
    // nothing is created, and the user is told, not only the log.
    if (!table_.HasFreeSlot()) {
        DIAG(kModule, 0, "INF:ConvertAndUpload failed");
        Message("queue_full");
        return;
    }
    JobTargets targets = TargetsFromSettings(cfg_);
    std::string key;
    if (SubmitJob(cfg_, table_, request, targets, true, &queue_, &key, notify_) < 0) {
        DIAG(kModule, 0, "INF:ConvertAndUpload failed");
        Message("submit_failed");
        return;
    }
    emit JobStarted(QString::fromStdString(key));
}

void CAdvModeTab::Message(const char* key)
{
    CDlgLocalize::NoticeByKey(this, key);
}

void CAdvModeTab::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CAdvModeTab::dropEvent(QDropEvent* event)
{
    TakeDroppedFiles(event->mimeData()->urls());
    event->acceptProposedAction();
}

void CAdvModeTab::TakeDroppedFiles(const QList<QUrl>& urls)
{
    // Other files are ignored. The path keeps its letter case: file names on Linux
    // depend on it.
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
            pdf_path_->setText(path);
    }
}
