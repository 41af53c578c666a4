#include "batch/EmbedCode.h"

#include "config/AppConfig.h"
#include "pipeline/BookAddress.h"
#include "pipeline/EmbedSnippet.h"

int PrintEmbedCodes(const AppConfig& cfg, const std::vector<std::string>& keys, std::FILE* out, std::FILE* err)
{
    int status = 0;
    for (const std::string& key : keys) {
        const PublishedAddresses web = BookWebAddresses(cfg.m_meta_ini, key, cfg.m_vazirudu_webaddr);
        const std::string title = cfg.m_meta_w_ini.ReadWide(key, "title");
        const int32_t width = cfg.m_meta_ini.ReadInt(key, "pagewidth");
        const int32_t height = cfg.m_meta_ini.ReadInt(key, "pageheight");
        bool printed = false;
        for (const auto& [target, address] : {std::pair<const char*, std::string>{"service", web.service},
                                              std::pair<const char*, std::string>{"ftp", web.ftp}}) {
            const std::string code = EmbedSnippet(address, title, width, height);
            if (code.empty())
                continue;
            std::fprintf(out, "%s:\n%s\n", target, code.c_str());
            printed = true;
        }
        if (!printed) {
            std::fprintf(err, "vellumark-batch: %s: %s\n", key.c_str(),
                         web.unfinished ? "its upload has not finished; publish it with --publish-book"
                                        : "the book is not published on the web");
            status = 1;
        }
    }
    return status;
}
