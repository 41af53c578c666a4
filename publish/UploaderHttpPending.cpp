// Placeholder for the web-service half while it is being written: every exchange fails
// and says so, so that no job reports a publication that did not happen.
#include "publish/Uploader.h"

#include "config/DiagLog.h"

namespace {
constexpr const char* kModule = "Upload";
bool Unavailable() {
    DIAG(kModule, 0, "ERR:web service publishing is not available in this build");
    return false;
}
}  // namespace

void Uploader::SetHttpTarget(const std::string& host, int32_t port, const std::string& path) {
    http_on_ = 1;
    http_host_ = host;
    http_port_ = static_cast<uint16_t>(port);
    http_path_ = path;
}
bool Uploader::ConnectHttp() { return http_on_ == 0 || Unavailable(); }
bool Uploader::HttpConnected() const { return false; }
int32_t Uploader::Login(const std::string&, const std::string&) { return Unavailable() ? 1 : 0; }
void Uploader::SetJobValues(const int32_t values[6]) {
    for (int i = 0; i < 6; ++i) job_values_[i] = values[i];
}
void Uploader::SetCoverSize(int32_t width, int32_t height) {
    cover_width_ = width;
    cover_height_ = height;
}
bool Uploader::handle_pdf_metadata_http(const std::string&, const std::string&, int32_t, int32_t, int32_t,
                                        const std::string&, const std::string&, const std::string&, int32_t,
                                        int64_t) {
    return http_on_ == 0 || Unavailable();
}
bool Uploader::upload_one_file_http(const std::string&, const std::string&, const std::string&) {
    return Unavailable();
}
