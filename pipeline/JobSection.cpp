#include "pipeline/JobSection.h"

#include <ctime>
#include <utility>
#include <vector>
#include <sys/time.h>

std::string TrimJobText(const std::string& text)
{
    const char* blanks = " \t\n\r";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string UnstorablePathReason(const std::string& path)
{
    if (path.find_first_of("\n\r") != std::string::npos)
        return "the path contains a line break";
    if (TrimJobText(path) != path)
        return "the path begins or ends with a blank or a tab";
    if (path.size() >= kJobPathBytes)
        return "the path is too long";
    return {};
}

int32_t NormaliseProgress(int32_t stored)
{
    if (stored < 1)
        return 0;
    if (stored <= 1000)
        return stored * 100;
    return stored;
}

bool WriteJobSection(IniFile& meta, IniFile& meta_w, const std::string& key, const JobSection& job)
{
    // Each file is replaced once with the whole section: a books list of hundreds of jobs
    // is rewritten whole on every replacement.
    const JobParams& p = job.params;
    std::vector<std::pair<std::string, std::string>> entries = {
        {"pdf_url", TrimJobText(job.pdf_url)},
        {"pagenum", std::to_string(job.pagenum)},
        {"pagewidth", std::to_string(job.pagewidth)},
        {"pageheight", std::to_string(job.pageheight)},
        {"timestamp", DateTimeText(job.timestamp)},
        {"progress", "0"},
        {"use_ftp", std::to_string(p.use_ftp)},
        {"use_vazirudu", std::to_string(p.use_vazirudu)},
        {"preview_quality", std::to_string(p.preview_quality)},
        {"preview_smooth", std::to_string(p.preview_smooth)},
        {"zoomin_quality", std::to_string(p.zoomin_quality)},
        {"zoomin_smooth", std::to_string(p.zoomin_smooth)},
        {"dpi", std::to_string(p.dpi)},
        {"cat_id", std::to_string(p.cat_id)},
        {"subcat_id", std::to_string(p.subcat_id)},
        {"country_id", std::to_string(p.country_id)},
        {"state_id", std::to_string(p.state_id)},
        {"city_id", std::to_string(p.city_id)},
    };
    if (p.use_ftp) {
        entries.emplace_back("ftp_url", job.ftp_url);
        entries.emplace_back("ftp_webaddr", job.ftp_webaddr);
    }
    if (p.use_vazirudu)
        entries.emplace_back("vazirudu_user", job.vazirudu_user);
    if (!job.export_folder.empty())
        entries.emplace_back("export_folder", job.export_folder);
    bool ok = meta.WriteTexts(key, entries);
    ok &= meta_w.WriteTexts(key, {{"tags", TrimJobText(job.tags)},
                                  {"title", TrimJobText(job.title)},
                                  {"description", TrimJobText(job.description)}});
    return ok;
}

JobParams ReadJobParams(const IniFile& meta, const std::string& key)
{
    JobParams p;
    p.use_ftp = meta.ReadInt(key, "use_ftp");
    p.use_vazirudu = meta.ReadInt(key, "use_vazirudu");
    p.preview_quality = meta.ReadInt(key, "preview_quality");
    p.preview_smooth = meta.ReadInt(key, "preview_smooth");
    p.zoomin_quality = meta.ReadInt(key, "zoomin_quality");
    p.zoomin_smooth = meta.ReadInt(key, "zoomin_smooth");
    p.dpi = meta.ReadInt(key, "dpi");
    p.cat_id = meta.ReadInt(key, "cat_id");
    p.subcat_id = meta.ReadInt(key, "subcat_id");
    p.country_id = meta.ReadInt(key, "country_id");
    p.state_id = meta.ReadInt(key, "state_id");
    p.city_id = meta.ReadInt(key, "city_id");
    return p;
}

JobSection ReadJobSection(const IniFile& meta, const IniFile& meta_w, const std::string& key)
{
    JobSection job;
    job.pdf_url = meta.ReadText(key, "pdf_url", kJobPathBytes);
    job.pagenum = meta.ReadInt(key, "pagenum");
    job.pagewidth = meta.ReadInt(key, "pagewidth");
    job.pageheight = meta.ReadInt(key, "pageheight");
    meta.ReadDateTime(key, "timestamp", job.timestamp);
    job.progress = ReadJobProgress(meta, key);
    job.params = ReadJobParams(meta, key);
    job.ftp_url = meta.ReadText(key, "ftp_url", 260);
    job.ftp_webaddr = meta.ReadText(key, "ftp_webaddr", 512);
    job.vazirudu_user = meta.ReadText(key, "vazirudu_user", 64);
    job.export_folder = meta.ReadText(key, "export_folder", kJobPathBytes);
    job.title = meta_w.ReadWide(key, "title");
    job.tags = meta_w.ReadWide(key, "tags");
    job.description = meta_w.ReadWide(key, "description");
    return job;
}

int32_t ReadJobProgress(const IniFile& meta, const std::string& key)
{
    return NormaliseProgress(meta.ReadInt(key, "progress"));
}

bool WriteJobProgress(IniFile& meta, const std::string& key, int32_t progress)
{
    return meta.WriteInt(key, "progress", progress);
}

bool IsFinished(const IniFile& meta, const std::string& key)
{
    return ReadJobProgress(meta, key) == kProgressFinished;
}

DateTimeRecord CurrentUtcTime()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    DateTimeRecord r;
    r.year = static_cast<uint16_t>(parts.tm_year + 1900);
    r.month = static_cast<uint16_t>(parts.tm_mon + 1);
    r.day_of_week = static_cast<uint16_t>(parts.tm_wday);
    r.day = static_cast<uint16_t>(parts.tm_mday);
    r.hour = static_cast<uint16_t>(parts.tm_hour);
    r.minute = static_cast<uint16_t>(parts.tm_min);
    r.second = static_cast<uint16_t>(parts.tm_sec);
    r.milliseconds = static_cast<uint16_t>(now.tv_usec / 1000);
    return r;
}
