#include "ui/BookOpener.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "ui/wizard/BookLocations.h"
#include "ui/UserPrompts.h"

#include <QUrl>

QStringList BookAddresses(const AppConfig& cfg, const std::string& key)
{
    const BookLocations where = LocateBook(cfg, key);
    QStringList addresses;
    for (const QString& address : {where.service_address, where.ftp_address})
        if (!address.isEmpty())
            addresses << address;
    // A book kept on this computer opens from the books folder.
    const bool use_ftp = cfg.m_meta_ini.ReadInt(key, "use_ftp") == 1;
    const bool use_service = cfg.m_meta_ini.ReadInt(key, "use_vazirudu") == 1;
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
