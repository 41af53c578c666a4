#include "HttpTestPeer.h"

#include "tests/helpers/TempHome.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace fs = std::filesystem;

HttpTestPeer::HttpTestPeer(const fs::path& root, const std::string& script_json) : folder_(root / "requests") {
    fs::create_directories(folder_);
    const fs::path script = root / "peer.json";
    const fs::path port_file = root / "peer.port";
    WriteFileBytes(script, script_json);
    process_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{(SourceDir() / "tests/publish/http_test_peer.py").string(), folder_.string(),
                                 port_file.string(), script.string()},
        port_file);
}

std::vector<PeerRequest> HttpTestPeer::Requests() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder_))
        if (entry.path().extension() != ".tmp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<PeerRequest> requests;
    for (const fs::path& file : files) {
        const std::string raw = ReadFileBytes(file);
        const size_t end = raw.find("\r\n\r\n");
        PeerRequest request;
        request.head = raw.substr(0, end);
        request.body = end == std::string::npos ? std::string() : raw.substr(end + 4);
        const std::string name = file.filename().string();
        request.connection = std::stoi(name.substr(name.find("-c") + 2));
        request.dropped = file.extension() == ".dropped";
        requests.push_back(std::move(request));
    }
    return requests;
}

bool HttpTestPeer::WaitForRequests(size_t count) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        if (Requests().size() >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}
