#include "ui/EmbedCodeBox.h"

#include "config/AppConfig.h"
#include "pipeline/BookAddress.h"
#include "pipeline/EmbedSnippet.h"
#include "ui/CDlgLocalize.h"
#include "ui/wizard/BookLocations.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QPushButton>
#include <QVBoxLayout>

EmbedCodeBox::EmbedCodeBox(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("embedCodeBox"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    service_ = AddRow("service", "embedService");
    ftp_ = AddRow("ftp", "embedFtp");
    copied_ = new QLabel(this);
    copied_->setObjectName(QStringLiteral("embedCopiedLabel"));
    layout->addWidget(copied_);
    unfinished_ = new QLabel(QStringLiteral("<#[EMBED:upload_unfinished]#>"), this);
    unfinished_->setObjectName(QStringLiteral("uploadUnfinishedLabel"));
    unfinished_->setWordWrap(true);
    publish_ = new QPushButton(QStringLiteral("<#[EMBED:publish]#>"), this);
    publish_->setObjectName(QStringLiteral("embedPublishButton"));
    publish_->setAutoDefault(false);
    layout->addWidget(unfinished_);
    layout->addWidget(publish_, 0, Qt::AlignLeft);
    connect(publish_, &QPushButton::clicked, this, &EmbedCodeBox::PublishRequested);
    hide();
}

EmbedCodeBox::Row EmbedCodeBox::AddRow(const char* target, const char* name)
{
    Row row;
    const QString caption = QStringLiteral("<#[EMBED:%1]#>").arg(QLatin1String(target));
    row.label = new QLabel(caption, this);
    row.label->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    row.label->setWordWrap(true);
    row.code = new QPlainTextEdit(this);
    row.code->setObjectName(QLatin1String(name) + QStringLiteral("Code"));
    row.code->setReadOnly(true);
    row.code->setTabChangesFocus(true);
    row.code->setAccessibleName(caption);
    // Four whole lines of code: enough to see what it is, small enough for a wizard page.
    row.code->setFixedHeight(row.code->fontMetrics().lineSpacing() * 4 +
                             2 * static_cast<int>(row.code->document()->documentMargin()) + 2 * row.code->frameWidth());
    row.code->setMinimumWidth(row.code->fontMetrics().averageCharWidth() * 50);
    row.label->setBuddy(row.code);
    row.copy = new QPushButton(QStringLiteral("<#[EMBED:copy]#>"), this);
    row.copy->setObjectName(QLatin1String(name) + QStringLiteral("Copy"));
    row.copy->setAccessibleName(QStringLiteral("<#[EMBED:copy_%1]#>").arg(QLatin1String(target)));
    auto* line = new QHBoxLayout;
    line->addWidget(row.code, 1);
    line->addWidget(row.copy, 0, Qt::AlignTop);
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->addWidget(row.label);
    layout->addLayout(line);
    connect(row.copy, &QPushButton::clicked, this, [this, row] { Copy(row); });
    return row;
}

void EmbedCodeBox::Fill(const Row& row, const std::string& code)
{
    row.code->setPlainText(QString::fromStdString(code));
    for (QWidget* widget : {static_cast<QWidget*>(row.label), static_cast<QWidget*>(row.code),
                            static_cast<QWidget*>(row.copy)})
        widget->setVisible(!code.empty());
}

void EmbedCodeBox::Copy(const Row& row)
{
    QGuiApplication::clipboard()->setText(row.code->toPlainText());
    copied_->setText(CDlgLocalize::Lookup("EMBED", "copied"));
}

void EmbedCodeBox::ShowBook(const AppConfig& cfg, const std::string& key)
{
    copied_->clear();
    std::string service_code, ftp_code;
    bool unfinished = false;
    if (!key.empty()) {
        const BookLocations where = LocateBook(cfg, key);
        unfinished = where.upload_unfinished;
        const std::string title = cfg.m_meta_w_ini.ReadWide(key, "title");
        const int32_t width = cfg.m_meta_ini.ReadInt(key, "pagewidth");
        const int32_t height = cfg.m_meta_ini.ReadInt(key, "pageheight");
        service_code = EmbedSnippet(where.service_address.toStdString(), title, width, height);
        ftp_code = EmbedSnippet(where.ftp_address.toStdString(), title, width, height);
    }
    Fill(service_, service_code);
    Fill(ftp_, ftp_code);
    unfinished_->setVisible(unfinished);
    publish_->setVisible(unfinished);
    setVisible(unfinished || !service_code.empty() || !ftp_code.empty());
}
