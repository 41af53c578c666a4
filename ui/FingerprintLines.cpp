#include "ui/FingerprintLines.h"

#include "publish/ServerIdentity.h"
#include "ui/CDlgLocalize.h"

#include <QRegularExpression>

namespace {

// A fingerprint with its key's kind before it (as NamedFingerprint writes it) or after it
// in brackets (as a job's note does), or a certificate's colon-separated hex.
const QRegularExpression& FingerprintPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "(?:\\b([A-Z0-9]{2,8}) )?(SHA256:[A-Za-z0-9+/]{43})(?: \\(([A-Z0-9]{2,8})\\))?|\\b(?:[0-9A-F]{2}:){31}[0-9A-F]{2}\\b"));
    return pattern;
}

QString Line(const char* caption, const std::string& value)
{
    return CDlgLocalize::Lookup("FTP_SETTING", caption) + QLatin1Char(' ') + QString::fromStdString(value);
}

}  // namespace

QStringList IdentityLines(const ServerIdentity& identity)
{
    QStringList lines;
    if (identity.check == IdentityCheck::Changed && !identity.expected.empty())
        lines << Line("key_expected", NamedFingerprint(identity.expected_type, identity.expected));
    if (!identity.offered.empty())
        lines << Line("key_offered", NamedFingerprint(identity.offered_type, identity.offered));
    if (!identity.certificate.empty())
        lines << Line("key_certificate", identity.certificate);
    return lines;
}

QStringList IdentityLinesFromNote(const QString& note)
{
    QStringList found;
    for (const QRegularExpressionMatch& match : FingerprintPattern().globalMatch(note)) {
        const QString kind = match.hasCaptured(1) ? match.captured(1) : match.captured(3);
        if (match.hasCaptured(2))
            found << QString::fromStdString(NamedFingerprint(kind.toStdString(), match.captured(2).toStdString()));
    }
    QStringList lines;
    const char* captions[] = {"key_expected", "key_offered"};
    for (qsizetype i = 0; i < found.size() && i < 2; ++i)
        lines << Line(captions[found.size() == 1 ? 1 : i], found[i].toStdString());
    return lines;
}

QString MessageWithWholeFingerprints(const QString& text)
{
    if (!text.contains(FingerprintPattern()))
        return {};
    QString html;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        // An empty line stays as the gap it makes in the plain text.
        const bool whole = line.contains(FingerprintPattern());
        html += QStringLiteral("<p style=\"margin:0;%1\">%2</p>")
                    .arg(whole ? QStringLiteral("white-space:pre") : QString(),
                         line.isEmpty() ? QStringLiteral("&nbsp;") : line.toHtmlEscaped());
    }
    return html;
}
