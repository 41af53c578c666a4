#include "ui/CServerKeyDlg.h"

#include "publish/ServerIdentity.h"
#include "ui/CDlgLocalize.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QString Text(const char* key)
{
    return QStringLiteral("<#[FTP_SETTING:%1]#>").arg(QLatin1String(key));
}

CServerKeyDlg::Kind KindOf(const ServerIdentity& identity)
{
    if (identity.check != IdentityCheck::Changed)
        return CServerKeyDlg::kUnknown;
    // Only a key the user confirmed in the profile can be replaced by a new confirmation.
    return identity.expected_from == "the profile" ? CServerKeyDlg::kChanged : CServerKeyDlg::kHostsDiffer;
}

// The command that removes the old key of `server` ("host:port") from known_hosts.
QString RemoveKeyCommand(const QString& server)
{
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    const QString host = server.left(colon);
    const QString port = server.mid(colon + 1);
    if (colon < 0 || port == QLatin1String("22"))
        return QStringLiteral("ssh-keygen -R %1").arg(server.left(colon < 0 ? server.size() : colon));
    return QStringLiteral("ssh-keygen -R '[%1]:%2'").arg(host, port);
}

QPushButton* AddButton(QDialogButtonBox* box, const QString& text, QDialogButtonBox::ButtonRole role, const char* name)
{
    QPushButton* button = box->addButton(text, role);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CServerKeyDlg::CServerKeyDlg(const ServerIdentity& identity, const QString& server, QWidget* parent)
    : QDialog(parent), kind_(KindOf(identity))
{
    setObjectName(QStringLiteral("serverKeyDialog"));
    setWindowTitle(Text("key_caption"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    layout->addLayout(top);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("iconLabel"));
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()
                        ->standardIcon(kind_ == kUnknown ? QStyle::SP_MessageBoxQuestion : QStyle::SP_MessageBoxWarning,
                                       nullptr, this)
                        .pixmap(size, size));
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    top->addLayout(texts, 1);
    const char* heading_key[] = {"key_unknown_heading", "key_changed_heading", "key_hosts_heading"};
    const char* text_key[] = {"key_unknown_text", "key_changed_text", "key_hosts_text"};
    heading_ = new QLabel(Text(heading_key[kind_]), this);
    heading_->setObjectName(QStringLiteral("headingLabel"));
    QFont bold = heading_->font();
    bold.setBold(true);
    heading_->setFont(bold);
    heading_->setWordWrap(true);
    texts->addWidget(heading_);
    explanation_ = new QLabel(Text(text_key[kind_]), this);
    explanation_->setObjectName(QStringLiteral("explanationLabel"));
    explanation_->setWordWrap(true);
    // Wide enough for the whole explanation's natural width: it wraps, never clips.
    explanation_->setMinimumWidth(explanation_->fontMetrics().averageCharWidth() * 80);
    texts->addWidget(explanation_);

    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    const QString offered = QString::fromStdString(NamedFingerprint(identity.offered_type, identity.offered));
    const QString expected = QString::fromStdString(NamedFingerprint(identity.expected_type, identity.expected));
    int row = 0;
    if (kind_ == kUnknown) {
        AddFingerprint(grid, row++, Text("key_offered"), offered, "offeredEdit");
    } else {
        AddFingerprint(grid, row++, Text(kind_ == kChanged ? "key_expected" : "key_in_known_hosts"), expected,
                       "expectedEdit");
        AddFingerprint(grid, row++, Text("key_offered"), offered, "offeredEdit");
    }
    // Providers publish a certificate's fingerprint in this form.
    if (!identity.certificate.empty())
        AddFingerprint(grid, row++, Text("key_certificate"), QString::fromStdString(identity.certificate),
                       "certificateEdit");
    if (kind_ == kHostsDiffer)
        AddFingerprint(grid, row++, Text("key_command"), RemoveKeyCommand(server), "commandEdit");
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(this);
    buttons->setObjectName(QStringLiteral("answerButtons"));
    layout->addWidget(buttons);
    QPushButton* refuse = nullptr;
    if (kind_ == kHostsDiffer) {
        refuse = AddButton(buttons, QStringLiteral("<#[close]#>"), QDialogButtonBox::RejectRole, "closeButton");
    } else {
        QPushButton* trust = AddButton(buttons, Text(kind_ == kUnknown ? "key_trust" : "key_accept_new"),
                                       QDialogButtonBox::YesRole, "trustButton");
        refuse = AddButton(buttons, Text("key_refuse"), QDialogButtonBox::NoRole, "refuseButton");
        connect(trust, &QPushButton::clicked, this, [this] { done(QMessageBox::Yes); });
    }
    connect(refuse, &QPushButton::clicked, this, [this] { done(QMessageBox::No); });
    // Enter answers No: trusting a key takes a deliberate choice.
    refuse->setDefault(true);
    refuse->setFocus();

    CDlgLocalize::LocaliseDialog(this);
    heading_->setText(heading_->text().arg(server));
    if (kind_ == kHostsDiffer)
        explanation_->setText(explanation_->text().arg(QString::fromStdString(identity.expected_from)));
}

void CServerKeyDlg::AddFingerprint(QGridLayout* grid, int row, const QString& caption, const QString& value,
                                   const char* name)
{
    auto* label = new QLabel(caption, this);
    auto* edit = new QLineEdit(value, this);
    edit->setObjectName(QLatin1String(name));
    edit->setReadOnly(true);
    edit->setAccessibleName(caption);
    // Fingerprints are compared character by character: a fixed-width font, shown whole.
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    edit->setFont(fixed);
    edit->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(value + QStringLiteral("MM")) + 12);
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
}

PromptRequest CServerKeyDlg::AsPrompt() const
{
    PromptRequest request;
    request.icon = kind_ == kUnknown ? QMessageBox::Question : QMessageBox::Warning;
    request.caption = windowTitle();
    QStringList lines{heading_->text(), QString(), explanation_->text(), QString()};
    const QList<QLineEdit*> edits = findChildren<QLineEdit*>();
    for (QLineEdit* edit : edits)
        lines << edit->accessibleName() + QLatin1Char(' ') + edit->text();
    request.text = lines.join(QLatin1Char('\n'));
    request.buttons = kind_ == kHostsDiffer ? QMessageBox::Close : (QMessageBox::Yes | QMessageBox::No);
    request.default_button = kind_ == kHostsDiffer ? QMessageBox::Close : QMessageBox::No;
    return request;
}

QMessageBox::StandardButton AskAboutServerKey(QWidget* owner, const ServerIdentity& identity, const QString& server)
{
    CServerKeyDlg dialog(identity, server, owner);
    const QMessageBox::StandardButton answer = AskWithDialog(dialog, dialog.AsPrompt());
    // A key that known_hosts contradicts is only explained: no answer accepts it.
    return answer == QMessageBox::Yes && dialog.Question() != CServerKeyDlg::kHostsDiffer ? QMessageBox::Yes
                                                                                          : QMessageBox::No;
}
