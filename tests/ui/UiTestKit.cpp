#include "tests/ui/UiTestKit.h"

#include "pipeline/ProcessPdfThread.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/PdfListView.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <cstdlib>
#include <fstream>

UiTestHome::UiTestHome() : cfg_(std::make_unique<AppConfig>())
{
    cfg_->Load();
    // No test reaches the network: the service is only one a test starts itself.
    cfg_->m_vazirudu_domain.clear();
    CDlgLocalize::SetLanguage(&cfg_->m_lang_ini);
    AppConfig& cfg = *cfg_;
    table_ = std::make_unique<JobTable>([&cfg](PdfJob& job) { return ProcessPdfThread(job, cfg); });
    table_->SetThreadLimit(2);
    prompt_hooks::SetPrompt([this](const PromptRequest& request) {
        prompts_.push_back(request);
        if (!answers_.empty()) {
            QMessageBox::StandardButton answer = answers_.front();
            answers_.pop_front();
            return answer;
        }
        return (request.buttons & QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    });
    prompt_hooks::SetPdfChooser([this](const QString& start) {
        chooser_start_ = start;
        return chosen_file_;
    });
    prompt_hooks::SetKeyFileChooser([this](const QString& start) {
        chooser_start_ = start;
        return chosen_file_;
    });
    prompt_hooks::SetFolderChooser([this](const QString& start) {
        chooser_start_ = start;
        return chosen_folder_;
    });
    prompt_hooks::SetOpener([this](const QUrl& url) {
        opened_ << url.toString();
        return true;
    });
}

UiTestHome::~UiTestHome()
{
    for (int i = 0; i < JobTable::kSlotCount; ++i)
        table_->RequestStop(i);
    table_->JoinAll();
    table_.reset();
    prompt_hooks::SetPrompt({});
    prompt_hooks::SetPdfChooser({});
    prompt_hooks::SetKeyFileChooser({});
    prompt_hooks::SetFolderChooser({});
    prompt_hooks::SetOpener({});
    CDlgLocalize::SetLanguage(nullptr);
}

QStringList UiTestHome::PromptTexts() const
{
    QStringList texts;
    for (const PromptRequest& request : prompts_)
        texts << request.text;
    return texts;
}

QString UiTestHome::MessageText(const char* key)
{
    return CDlgLocalize::Lookup("MESSAGEBOX", key);
}

std::filesystem::path UiTestHome::MakePdf(const std::string& name, int pages)
{
    const std::filesystem::path pdf = home_.Root() / name;
    const std::string command = "python3 '" + (SourceDir() / "tests/pipeline/make_book_pdf.py").string() + "' '" +
                                pdf.string() + "' --pages " + std::to_string(pages);
    if (std::system(command.c_str()) != 0)
        return {};
    return pdf;
}

void UiTestHome::UseFakeEngine(int pages, const char* delay_seconds)
{
    cfg_->m_engine_path = (SourceDir() / "tests/pipeline/fake_rastrix.sh").string();
    setenv("FAKE_PAGES", std::to_string(pages).c_str(), 1);
    setenv("FAKE_DELAY", delay_seconds, 1);
}

std::string UiTestHome::ConvertAndWait(CAdvModeTab& page, const std::filesystem::path& pdf, int timeout_ms)
{
    const int before = page.ProcessedList().RowCount();
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(pdf.string()));
    page.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
    if (page.QueueList().RowCount() == 0)
        return {};
    const std::string key = page.QueueList().Item(page.QueueList().RowCount() - 1)->key;
    QElapsedTimer waited;
    waited.start();
    // The page may have no refresh timer of its own here: refresh as its timer would.
    while (page.ProcessedList().RowCount() == before && waited.elapsed() < timeout_ms) {
        QTest::qWait(100);
        page.RefreshQueue();
    }
    return page.ProcessedList().RowCount() > before ? key : std::string();
}

qint64 QueuedMs()
{
    std::ifstream stat("/proc/thread-self/schedstat");
    long long on_cpu = 0;
    long long queued_ns = 0;
    stat >> on_cpu >> queued_ns;
    return queued_ns / 1000000;
}
