#include "ui/BookOpener.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "pipeline/BookAddress.h"
#include "ui/UserPrompts.h"

#include <QUrl>

QStringList BookAddresses(const AppConfig& cfg, const std::string& key)
{
    QStringList addresses;
    const bool use_ftp = cfg.m_meta_ini.ReadInt(key, "use_ftp") == 1;
    const bool use_service = cfg.m_meta_ini.ReadInt(key, "use_vazirudu") == 1;
    // Without a service address there is no service page to open.
    if (use_service && !cfg.m_vazirudu_webaddr.empty())
        addresses << QString::fromStdString(WebServiceBookAddress(cfg.m_vazirudu_webaddr, key));
    if (use_ftp)
        addresses << QString::fromStdString(FtpBookAddress(cfg.m_meta_ini.ReadText(key, "ftp_webaddr", 512), key));
    if (!use_service && !use_ftp)
        addresses << QUrl::fromLocalFile(
                         QString::fromStdString(JoinPath(JoinPath(cfg.m_books_folder, key), "index.html")))
                         .toString();
    return addresses;
}

int OpenBook(const AppConfig& cfg, const std::string& key, const char* module)
{
    int opened = 0;
    for (const QString& address : BookAddresses(cfg, key))
        if (OpenWithDesktop(QUrl(address), module) > 32)
            ++opened;
    return opened;
}
