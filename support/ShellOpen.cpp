#include "support/ShellOpen.h"

#include "config/CommonUtil.h"
#include "config/DiagLog.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

constexpr int kOpened = 33;
constexpr int kFileNotFound = 2;
constexpr int kNoAssociation = 31;

}  // namespace

int OpenWithDesktop(const QUrl& target)
{
    int result = kOpened;
    if (target.isLocalFile() && !PathExists(target.toLocalFile().toStdString()))
        result = kFileNotFound;
    else if (!QDesktopServices::openUrl(target))
        result = kNoAssociation;
    if (result < 32)
        DIAG("Support", 0, "%s (%s)", ReportShellFailure(result), target.toString().toUtf8().constData());
    return result;
}
