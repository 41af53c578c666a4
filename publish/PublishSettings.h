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
    int32_t http_chunk_size = 48;  // KiB per chunk of a web-service upload, 1..48
    int32_t http_wait_after_upld_chunk = 1000;  // ms before each chunk, 1..5000
    int32_t http_upld_try_times = 4;  // attempts per chunk or whole file, 1..7
    int32_t net_timeout_ms = 30000;  // longest wait for the network in one operation
    std::string ftp_active_address = "-";  // "-": the address of the control connection
};

PublishSettings PublishSettingsFrom(const AppConfig& cfg);
