#include "publish/PublishSettings.h"

#include "config/AppConfig.h"
#include "publish/CurlEasy.h"

PublishSettings PublishSettingsFrom(const AppConfig& cfg) {
    PublishSettings settings;
    settings.ftp_upld_try_times = cfg.m_ftp_upld_try_times;
    settings.skin_subdir = cfg.m_skin_subdir;
    settings.books_folder = cfg.m_books_folder;
    settings.http_chunk_size = cfg.m_http_chunk_size;
    settings.http_wait_after_upld_chunk = cfg.m_http_wait_after_upld_chunk;
    settings.http_upld_try_times = cfg.m_http_upld_try_times;
    // Optional key: missing, empty or 0 gives 30 s; kept within 1 s and 10 minutes.
    settings.net_timeout_ms = NetTimeoutMs(cfg.m_config_ini.ReadInt("network", "net_timeout_ms"));
    return settings;
}
