// The settings a publishing session reads, taken once from the application
// configuration so that the session itself does not depend on where they are stored.
#pragma once

#include <cstdint>
#include <string>

class AppConfig;

struct PublishSettings {
    int32_t ftp_upld_try_times = 4;
    std::string skin_subdir = "skins/2";
    std::string books_folder;  // holds the skins folder and the shared template files
    int32_t http_chunk_size = 48;  // KB
    int32_t net_timeout_ms = 30000;  // longest wait for the network in one operation
    std::string ftp_active_address = "-";  // "-": the address of the control connection
};

PublishSettings PublishSettingsFrom(const AppConfig& cfg);
