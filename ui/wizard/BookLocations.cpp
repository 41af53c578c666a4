#include "ui/wizard/BookLocations.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "pipeline/BookAddress.h"
#include "pipeline/JobSection.h"

BookLocations LocateBook(const AppConfig& cfg, const std::string& key)
{
    BookLocations where;
    const PublishedAddresses web = BookWebAddresses(cfg.m_meta_ini, key, cfg.m_vazirudu_webaddr);
    where.upload_unfinished = web.unfinished;
    where.service_address = QString::fromStdString(web.service);
    where.ftp_address = QString::fromStdString(web.ftp);
    const bool use_ftp = cfg.m_meta_ini.ReadInt(key, "use_ftp") == 1;
    const bool use_service = cfg.m_meta_ini.ReadInt(key, "use_vazirudu") == 1;
    if (!use_ftp && !use_service) {
        // A failed export leaves the book only in the books folder: never point at a
        // folder that does not hold it.
        const std::string exported = cfg.m_meta_ini.ReadText(key, "export_folder", kJobPathBytes);
        if (!exported.empty() && PathExists(JoinPath(exported, "index.html")))
            where.local_folder = QString::fromStdString(exported);
        else
            where.local_folder = QString::fromStdString(JoinPath(cfg.m_books_folder, key));
    }
    return where;
}
