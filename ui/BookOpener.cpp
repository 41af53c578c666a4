#include "ui/BookOpener.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "ui/UserPrompts.h"

#include <QUrl>

QStringList BookAddresses(const AppConfig& cfg, const std::string& key)
{
    QStringList addresses;
    const bool use_ftp = cfg.m_meta_ini.ReadInt(key, "use_ftp") == 1;
    const bool use_service = cfg.m_meta_ini.ReadInt(key, "use_vazirudu") == 1;
    // Without a service address there is no service page to open.
    if (use_service && !cfg.m_vazirudu_webaddr.empty()) {
        std::string base = cfg.m_vazirudu_webaddr;
        if (base.back() != '/')
            base += '/';
        addresses << QString::fromStdString(base + "booklet.asp?guid=" + key);
    }
    if (use_ftp) {
        std::string web = cfg.m_meta_ini.ReadText(key, "ftp_webaddr", 512);
        if (web.empty() || (web.back() != '/' && web.back() != '\\'))
            web += '/';
        addresses << QString::fromStdString(web + key + "/index.html");
    }
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
