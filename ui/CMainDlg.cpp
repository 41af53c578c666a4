#include "ui/CMainDlg.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "pipeline/PdfJob.h"
#include "ui/AccessibleRoles.h"
#include "ui/AppIcon.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/FingerprintLines.h"
#include "ui/CModeTabCtrl.h"
#include "ui/DlgNotifier.h"
#include "ui/JobNoticeBridge.h"
#include "ui/MainKeyFilter.h"
#include "ui/ReferenceUpdate.h"
#include "ui/UserPrompts.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QScreen>
#include <QUrl>

namespace {

constexpr const char* kModule = "MainDlg";
constexpr int kMargin = 4;

QString Caption()
{
    QString caption = QStringLiteral("Vellumark %1").arg(QLatin1String(AppConfig::kVersion));
    // A build number is shown only when positive; the build stamp never is.
    if (AppConfig::kBuildVer > 0)
        caption += QStringLiteral(" (build %1) ").arg(AppConfig::kBuildVer);
    return caption;
}

}  // namespace

CMainDlg::CMainDlg(AppConfig& cfg, JobTable& table, JobNoticeBridge& notices, QWidget* parent)
    : QWidget(parent), cfg_(cfg), resizer_(this, kMargin), background_(cfg)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(Caption());
    setWindowIcon(AppIcon());
    SetAccessibleRole(this, QAccessible::Window);
    tabs_ = new CModeTabCtrl(cfg, table, &notices, this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));
    status_->setAccessibleName(QStringLiteral("Status"));
    SetControlId(status_, 1118);
    connect(tabs_->AdvancedPage(), &CAdvModeTab::ExitRequested, this, [this] { RequestQuit(kExitClosed); });
    connect(tabs_, &CModeTabCtrl::ExitRequested, this, [this] { RequestQuit(kExitClosed); });
    connect(tabs_->AdvancedPage(), &CAdvModeTab::StatusText, this, &CMainDlg::SetStatusText);
    connect(tabs_->AdvancedPage(), &CAdvModeTab::JobStarted, this, &CMainDlg::FollowJob);
    connect(tabs_, &CModeTabCtrl::JobStarted, this, &CMainDlg::FollowJob);
    connect(&notices, &JobNoticeBridge::JobIncomplete, this, &CMainDlg::ShowJobIncomplete);
    connect(&notices, &JobNoticeBridge::JobNote, this, &CMainDlg::ShowJobNote);

    // The window opens at the size its content asks for, which is also its minimum.
    const QSize content = tabs_->sizeHint();
    const int status_height = std::max(16, status_->sizeHint().height());
    const QSize initial(content.width() + 2 * kMargin, content.height() + 2 * kMargin + status_height + 8);
    resize(initial);
    setMinimumSize(initial);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    LayOut();
    // The border shows where it can be dragged; the controls keep their own pointer
    // rather than the border's.
    setMouseTracking(true);
    tabs_->setCursor(Qt::ArrowCursor);
    status_->setCursor(Qt::ArrowCursor);
    new MainKeyFilter(this);

    startup_timer_.setSingleShot(true);
    startup_timer_.setInterval(kStartupDelayMs);
    connect(&startup_timer_, &QTimer::timeout, this, &CMainDlg::StartupChecks);
    startup_timer_.start();
    quit_retry_.setInterval(kQuitRetryMs);
    connect(&quit_retry_, &QTimer::timeout, this, &CMainDlg::RetryQuit);
    // The checks' threads report through queued calls: this window is only ever
    // touched on its own thread.
    background_.Start([this](const NotifierNotice& notice, const std::string& page) {
        const QString text = QString::fromUtf8(page.data(), static_cast<qsizetype>(page.size()));
        QMetaObject::invokeMethod(this, [this, notice, text] { ShowNotifier(notice, text); }, Qt::QueuedConnection);
    });
}

CMainDlg::~CMainDlg() = default;

void CMainDlg::Relocalise()
{
    tabs_->Relocalise();
    CDlgLocalize::LocaliseDialog(this);
}

void CMainDlg::LayOut()
{
    const int status_height = std::max(16, status_->sizeHint().height());
    const QRect client = rect();
    const QRect tab_area(client.left() + kMargin, client.top() + kMargin, client.width() - 2 * kMargin,
                         client.height() - kMargin - status_height - 8);
    tabs_->setGeometry(tab_area);
    status_->setGeometry(tab_area.left() + 8, tab_area.bottom() + 1 + 4, tab_area.width() - 8, status_height);
}

void CMainDlg::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayOut();
}

void CMainDlg::mousePressEvent(QMouseEvent* event)
{
    if (!resizer_.Press(event, cfg_.m_lockwindow_when_dragging != 0))
        QWidget::mousePressEvent(event);
}

void CMainDlg::mouseMoveEvent(QMouseEvent* event)
{
    if (resizer_.Move(event))
        return;
    const Qt::Edges edges = resizer_.EdgesAt(event->position().toPoint());
    const bool diagonal_down = edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
    if (edges == Qt::Edges())
        unsetCursor();
    else if (edges == Qt::LeftEdge || edges == Qt::RightEdge)
        setCursor(Qt::SizeHorCursor);
    else if (edges == Qt::TopEdge || edges == Qt::BottomEdge)
        setCursor(Qt::SizeVerCursor);
    else
        setCursor(diagonal_down ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
    QWidget::mouseMoveEvent(event);
}

void CMainDlg::mouseReleaseEvent(QMouseEvent* event)
{
    if (!resizer_.Release(event))
        QWidget::mouseReleaseEvent(event);
}

void CMainDlg::StartupChecks()
{
    RunPluginInstaller();
    AskForNewVersion();
}

void CMainDlg::RunPluginInstaller()
{
    IniFile& ini = cfg_.m_config_ini;
    if (ini.ReadInt("general", "plugin_installed") > 0)
        return;
    const QString installer = QString::fromStdString(cfg_.LoadedProgramFolder() + "instplug");
    // The installer is optional; a missing one is logged like any program that cannot
    // be started.
    if (!PathExists(installer.toStdString()))
        DIAG(kModule, 0, "%s (%s)", ReportShellFailure(2), qPrintable(installer));
    else if (!QProcess::startDetached(installer, {}))
        DIAG(kModule, 0, "%s (%s)", ReportShellFailure(31), qPrintable(installer));
    ini.WriteText("general", "plugin_installed", "1");
}

void CMainDlg::AskForNewVersion()
{
    background_.CheckVersion([this](bool newer) {
        if (newer)
            QMetaObject::invokeMethod(this, &CMainDlg::OfferUpgrade, Qt::QueuedConnection);
    });
}

void CMainDlg::OfferUpgrade()
{
    if (quitting_)
        return;
    PromptRequest request;
    request.icon = QMessageBox::Question;
    request.caption = QStringLiteral("Vellumark");
    request.text = QStringLiteral(
        "A new version of this program is available.\nDo you want to close the program and upgrade to the latest "
        "version?");
    request.buttons = QMessageBox::Yes | QMessageBox::No;
    if (ShowPrompt(this, request) != QMessageBox::Yes)
        return;
    // The download page as configured, else the service's own pages.
    std::string page = cfg_.m_config_ini.ReadText("general", "upgrade_url", 260);
    if (page.empty())
        page = cfg_.m_vazirudu_webaddr;
    OpenWithDesktop(QUrl(QString::fromStdString(page)), kModule);
}

void CMainDlg::ShowNotifier(const NotifierNotice& notice, const QString& page)
{
    if (quitting_)
        return;
    if (!notifier_)
        notifier_ = new DlgNotifier(this);
    notifier_->ShowPage(QUrl(QString::fromStdString(notice.url)), page, notice.width, notice.height);
}

bool CMainDlg::RequestQuit(int exit_code)
{
    if (quitting_)
        return true;
    if (ReferenceUpdateRunning()) {
        pending_exit_code_ = exit_code;
        if (!quit_retry_.isActive())
            quit_retry_.start();
        return false;
    }
    quit_retry_.stop();
    quitting_ = true;
    hide();
    emit Quit(exit_code);
    return true;
}

void CMainDlg::RetryQuit()
{
    DIAG(kModule, 0, "INF:normal quit");
    RequestQuit(pending_exit_code_);
}

void CMainDlg::closeEvent(QCloseEvent* event)
{
    if (RequestQuit(kExitClosed))
        event->accept();
    else
        event->ignore();
}

void CMainDlg::ShowJobIncomplete(int result_code, const QString& key)
{
    // A stopped job (0) is what the user asked for; unknown codes are not ours.
    if (result_code < 1 || result_code >= JOB_RESULT_COUNT)
        return;
    QString text = CDlgLocalize::Lookup("PROCESS_MSG", ("error_" + std::to_string(result_code + 1)).c_str());
    const QString note = last_notes_.take(key);
    PromptRequest request;
    request.icon = QMessageBox::Critical;
    request.caption = QStringLiteral("Error");
    // A server key that nobody confirmed is no failed login: nothing was sent, and the
    // user is told what happened and how to go on.
    if (result_code == JOB_RESULT_FTP_LOGIN_FAILED && note.contains(QStringLiteral("identity"))) {
        request.icon = QMessageBox::Warning;
        request.caption = CDlgLocalize::Lookup("MESSAGEBOX", "identity_caption");
        text = CDlgLocalize::Lookup("MESSAGEBOX", "identity_next_step") + QStringLiteral("\n\n") +
               IdentityLinesFromNote(note).join(QLatin1Char('\n'));
    } else if (!note.isEmpty()) {
        text += QLatin1Char('\n') + note;
    }
    request.text = text;
    ShowPrompt(this, request);
}

void CMainDlg::ShowJobNote(const QString& key, const QString& text)
{
    if (last_notes_.size() > 64)  // notes of jobs that finished anyway
        last_notes_.clear();
    last_notes_[key] = text;
    // Only the job last started speaks on the status line: another job's note would be
    // read as this one's.
    if (followed_job_.isEmpty() || key == followed_job_)
        SetStatusText(text);
}

void CMainDlg::FollowJob(const QString& key)
{
    followed_job_ = key;
    SetStatusText(QString());
}

void CMainDlg::SetStatusText(const QString& text)
{
    status_->setText(text);
    // The label keeps its name "Status"; screen readers read the message as its
    // description, and the change of description is announced to them.
    status_->setAccessibleDescription(text);
}
