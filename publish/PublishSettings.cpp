#include "publish/PublishSettings.h"

#include "config/AppConfig.h"

PublishSettings PublishSettingsFrom(const AppConfig& cfg) {
    PublishSettings settings;
    settings.ftp_upld_try_times = cfg.m_ftp_upld_try_times;
    settings.skin_subdir = cfg.m_skin_subdir;
    settings.books_folder = cfg.m_books_folder;
    settings.http_chunk_size = cfg.m_http_chunk_size;
    settings.http_wait_after_upld_chunk = cfg.m_http_wait_after_upld_chunk;
    settings.http_upld_try_times = cfg.m_http_upld_try_times;
    return settings;
}
