// The keys of config.ini: the defaults written for a new file and the reading of every
// key with its fallback and normalisation.
#include "config/AppConfig.h"

#include "config/DiagLog.h"
#include "config/ServiceHostKeys.h"

#include <algorithm>
#include <cerrno>
#include <sys/utsname.h>

namespace {

const char kModule[] = "AppConfig";

// A 32-bit build running on a 64-bit kernel cannot host the skinned window.
bool IsThirtyTwoBitOnSixtyFour()
{
    if (sizeof(void*) != 4)
        return false;
    utsname info{};
    if (uname(&info) != 0)
        return false;
    const std::string machine = info.machine;
    return machine == "x86_64" || machine == "aarch64" || machine == "ppc64le" || machine == "s390x";
}

int32_t AtLeast(int32_t value, int32_t minimum, int32_t fallback)
{
    return value < minimum ? fallback : value;
}

// Values of 0 or less take the fallback, values above `maximum` are capped.
int32_t Ranged(int32_t value, int32_t fallback, int32_t maximum)
{
    if (value <= 0)
        return fallback;
    return value > maximum ? maximum : value;
}

// A value that reaches the engine. A missing key, a value below 1 where `zero_allowed`
// is false, or one that is no whole number takes the fallback; one outside
// [minimum, maximum] is brought to the nearer end. Every value that is changed is logged
// with the value used, so a hand-edited file can never make the conversions fail.
int32_t EngineValue(const IniFile& c, const char* key, int32_t fallback, int32_t minimum, int32_t maximum,
                    bool zero_allowed)
{
    const std::string text = c.ReadRaw("general", key);
    if (text.empty())
        return fallback;
    bool number = text.size() <= 10;
    int64_t value = 0;
    for (size_t i = text[0] == '-' ? 1 : 0; number && i < text.size(); ++i) {
        number = text[i] >= '0' && text[i] <= '9';
        value = value * 10 + (text[i] - '0');
    }
    number = number && text != "-";
    if (text[0] == '-')
        value = -value;
    int32_t used = fallback;
    if (number && (value >= 1 || (zero_allowed && value == 0)))
        used = static_cast<int32_t>(std::clamp<int64_t>(value, minimum, maximum));
    if (!number || used != value)
        DIAG(kModule, 0, "ERR:config.ini %s=\"%s\" out of range, %d used", key, text.c_str(), used);
    return used;
}

}  // namespace

void AppConfig::WriteDefaults()
{
    IniFile& c = m_config_ini;
    c.WriteInt("general", "days", 7);
    c.WriteInt("general", "preview_quality", 25);
    c.WriteInt("general", "preview_smooth", 100);
    c.WriteInt("general", "zoomin_quality", 25);
    c.WriteInt("general", "zoomin_smooth", 100);
    c.WriteInt("general", "dpi", 120);
    c.WriteInt("general", "lockwindow_when_dragging", 1);
    c.WriteInt("general", "LowResHeight", 500);
    c.WriteInt("general", "MedResHeight", 650);
    c.WriteInt("general", "HighResHeight", 750);
    c.WriteInt("general", "use_skin", 0);
    c.WriteInt("general", "log_cmd", 0);
    c.WriteInt("general", "log_err", 0);
    for (const char* id : {"cat_id", "subcat_id", "country_id", "state_id", "city_id"})
        c.WriteInt("general", id, 0);
    c.WriteInt("general", "autoview", 1);
    c.WriteText("option", "program_name", kEngineName);
    c.WriteInt("option", "is_fullpath", 0);
    c.WriteText("option", "template_html", "booklet.asp");
    c.WriteInt("option", "threads_limit", 2);
    c.WriteText("network", "ftp_url", "");
    c.WriteText("general", "export_folder", "");
    c.WriteInt("network", "use_ftp", 1);
    c.WriteInt("network", "use_local", 1);
    c.WriteText("network", "export_local", "");
    c.WriteText("network", "vazirudu_user", "");
    // No publishing service until the user names one.
    c.WriteText("network", "vazirudu_domain", "");
    c.WriteText("network", "vazirudu_webaddr", "");
    c.WriteText("network", "vazirudu_url", kServiceUrl);
    c.WriteInt("network", "use_vazirudu", 1);
    c.WriteText("network", "http_host", "");
}

std::string AppConfig::ReadWebServiceKey(const char* key, size_t capacity, const std::string& fallback)
{
    std::string value = m_config_ini.ReadText("network", key, capacity);
    if (value.empty()) {
        DIAG(kModule, errno, "ERR:%s missing, use default", key);
        value = fallback;
    }
    return value;
}

void AppConfig::ReadFtpProfile()
{
    m_ftp_url = m_config_ini.ReadText("network", "ftp_url", 260);
    if (m_ftp_url.rfind("ftp://", 0) == 0)
        m_ftp_url.erase(0, 6);
    size_t slash = m_ftp_url.find('/');
    m_ftp_host = m_ftp_url.substr(0, slash);
    m_ftp_subdir = slash == std::string::npos ? std::string() : m_ftp_url.substr(slash);

    m_ftp_user.clear();
    m_ftp_passwd.clear();
    m_ftp_webaddr.clear();
    m_ftp_passive = 1;
    m_ftp_port = 21;
    if (m_ftp_url.empty())
        return;
    // A deciphered value longer than the account fields allow is taken as damaged.
    m_ftp_user = m_ftp_ini.ReadEnciphered(m_ftp_url, "ftp_user", m_cipher);
    if (m_ftp_user.size() > 32)
        m_ftp_user.clear();
    m_ftp_passwd = m_ftp_ini.ReadEnciphered(m_ftp_url, "ftp_passwd", m_cipher);
    if (m_ftp_passwd.size() > 32)
        m_ftp_passwd.clear();
    m_ftp_webaddr = m_ftp_ini.ReadText(m_ftp_url, "ftp_webaddr", 512);
    m_ftp_passive = m_ftp_ini.ReadInt(m_ftp_url, "ftp_passive");
    if (m_ftp_passive < 0)
        m_ftp_passive = 1;
    m_ftp_port = m_ftp_ini.ReadInt(m_ftp_url, "ftp_port");
    if (m_ftp_port < 1)
        m_ftp_port = 21;
}

void AppConfig::ReadSettings()
{
    IniFile& c = m_config_ini;

    m_threads_limit = AtLeast(c.ReadInt("option", "threads_limit"), 1, 1);

    m_use_skin = c.ReadInt("general", "use_skin");
    if (m_use_skin < 0)
        m_use_skin = 1;
    if (IsThirtyTwoBitOnSixtyFour())
        m_use_skin = 0;

    m_log_cmd = c.ReadInt("general", "log_cmd") == 1 ? 1 : 0;
    m_log_err = c.ReadInt("general", "log_err") == 1 ? 1 : 0;
    DiagLog::Instance().SetSwitches(static_cast<uint32_t>(m_log_err), static_cast<uint32_t>(m_log_cmd));

    m_cat_id = AtLeast(c.ReadInt("general", "cat_id"), 0, 0);
    m_subcat_id = AtLeast(c.ReadInt("general", "subcat_id"), 0, 0);
    m_country_id = AtLeast(c.ReadInt("general", "country_id"), 0, 0);
    m_state_id = AtLeast(c.ReadInt("general", "state_id"), 0, 0);
    m_city_id = AtLeast(c.ReadInt("general", "city_id"), 0, 0);
    m_autoview = c.ReadInt("general", "autoview") == 1 ? 1 : 0;
    m_new_version = AtLeast(m_app_ini.ReadInt("general", "new_version"), 0, 0);

    m_lockwindow_when_dragging = AtLeast(c.ReadInt("general", "lockwindow_when_dragging"), 0, 1);
    if (m_use_skin == 0)
        m_lockwindow_when_dragging = 1;
    m_upload_pdf = AtLeast(c.ReadInt("general", "upload_pdf"), 0, 0);
    m_engine_lib_path = ProgramFolder() + kEngineLibraryName;

    // The ranges of the image quality settings' sliders; a smoothing of 0 is one of them.
    m_preview_quality = EngineValue(c, "preview_quality", 25, 25, 85, false);
    m_preview_smooth = EngineValue(c, "preview_smooth", 100, 0, 100, true);
    m_zoomin_quality = EngineValue(c, "zoomin_quality", 25, 25, 85, false);
    m_zoomin_smooth = EngineValue(c, "zoomin_smooth", 100, 0, 100, true);

    // The three resolutions are fixed; a file that says otherwise is corrected.
    const std::pair<const char*, int32_t*> fixed[] = {
        {"low_dpi", &m_low_dpi}, {"med_dpi", &m_med_dpi}, {"high_dpi", &m_high_dpi}};
    const int32_t fixed_values[] = {96, 120, 150};
    for (int i = 0; i < 3; ++i) {
        *fixed[i].second = fixed_values[i];
        if (c.ReadInt("general", fixed[i].first) != fixed_values[i])
            c.WriteInt("general", fixed[i].first, fixed_values[i]);
    }
    m_dpi = EngineValue(c, "dpi", m_med_dpi, m_low_dpi, m_high_dpi, false);
    m_back_normal = AtLeast(c.ReadInt("general", "back_normal"), 0, 0);

    m_low_res_width = AtLeast(c.ReadInt("general", "LowResWidth"), 1, 480);
    m_low_res_height = AtLeast(c.ReadInt("general", "LowResHeight"), 1, 500);
    m_med_res_width = AtLeast(c.ReadInt("general", "MedResWidth"), 1, 580);
    m_med_res_height = AtLeast(c.ReadInt("general", "MedResHeight"), 1, 650);
    m_high_res_width = AtLeast(c.ReadInt("general", "HighResWidth"), 1, 680);
    m_high_res_height = AtLeast(c.ReadInt("general", "HighResHeight"), 1, 750);

    m_http_upld_try_times = Ranged(c.ReadInt("network", "http_upld_try_times"), 4, 7);
    c.WriteInt("network", "http_upld_try_times", m_http_upld_try_times);
    m_ftp_upld_try_times = Ranged(c.ReadInt("network", "ftp_upld_try_times"), 4, 7);
    c.WriteInt("network", "ftp_upld_try_times", m_ftp_upld_try_times);
    m_http_wait_after_upld_chunk = Ranged(c.ReadInt("network", "http_wait_after_upld_chunk"), 1000, 5000);
    c.WriteInt("network", "http_wait_after_upld_chunk", m_http_wait_after_upld_chunk);
    m_http_chunk_size = Ranged(c.ReadInt("network", "http_chunk_size"), 48, 48);
    c.WriteInt("network", "http_chunk_size", m_http_chunk_size);

    m_use_vazirudu = c.ReadInt("network", "use_vazirudu");
    // An empty service address means no publishing service: nothing stands in for it, so
    // no request ever goes to a host the user did not choose.
    m_vazirudu_domain = TrimmedServiceHost(c.ReadText("network", "vazirudu_domain", 128));
    m_vazirudu_url = ReadWebServiceKey("vazirudu_url", 260, kServiceUrl);
    m_vazirudu_webaddr.clear();
    if (m_vazirudu_domain.empty())
        DIAG(kModule, 0, "INF:no publishing service set");
    else
        m_vazirudu_webaddr = ReadWebServiceKey("vazirudu_webaddr", 260, ServiceBooksAddress(m_vazirudu_domain));
    m_vazirudu_user = ReadWebServiceKey("vazirudu_user", 256, kPlaceholderUser);
    m_use_ftp = AtLeast(c.ReadInt("network", "use_ftp"), 0, 0);
    ReadFtpProfile();

    m_skin_subdir = c.ReadText("skin", "skin_subdir", 128);
    if (m_skin_subdir.empty())
        m_skin_subdir = "skins/2";
    m_skin_number = SkinNumberOf(m_skin_subdir);
    m_skin_usemail = AtLeast(c.ReadInt("skin", "skin_usemail"), 0, 0);
    m_skin_usenote = AtLeast(c.ReadInt("skin", "skin_usenote"), 0, 0);
    m_skin_useownlogo = AtLeast(c.ReadInt("skin", "skin_useownlogo"), 0, 0);
    m_skin_logoimg = c.ReadText("skin", "skin_logoimg", 260);
    m_skin_logotxt = c.ReadRaw("skin", "skin_logotxt", 260);
    m_skin_logourl = c.ReadText("skin", "skin_logourl", 260);
    m_skin_cssfile = c.ReadText("skin", "skin_cssfile", 64);
    if (m_skin_cssfile.empty())
        m_skin_cssfile = "site_styles.css";

    m_export_folder = c.ReadText("general", "export_folder", 260);
    m_use_local = c.ReadInt("network", "use_local");
}
