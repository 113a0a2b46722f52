#include "support/EngineHarness.h"

#include <algorithm>
#include <filesystem>

#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm::test {

EngineHarness::EngineHarness() : EngineHarness(0) {}

EngineHarness::EngineHarness(int port) {
    dir.Enter();
    profile.Load(dir / "quarrymoth.ini");
    MakeDirectory(dir / "dl");
    Set("NNTPHost", kHost);
    Set("NNTPPort", std::to_string(port != 0 ? port : server.port()));
    Set("DownloadDirectory", DownloadDir());
    Set("MinLines", "0");
    if (port == 0) {
        // Scripted conversations are written for one command at a time; the real server gets
        // the default depth.
        Set("PipelineDepth", "1");
        // ... and for one connection that sends only what they script.
        SetServer("Connections", "1");
        SetServer("UseCompression", "0");
        model.Serve(server);
    }
}

void EngineHarness::SetGroups(const std::vector<std::string>& groups) {
    std::string text;
    for (const std::string& g : groups) text += g + "\n";
    TempDir::WriteFile(dir / (std::string("Groups.") + kHost), text);
}

void EngineHarness::Set(const std::string& key, const std::string& value) {
    profile.WriteString(kMainSection, key, value);
}

void EngineHarness::SetServer(const std::string& key, const std::string& value) {
    profile.WriteString(kHost, key, value);
}

long EngineHarness::ReadMark(const std::string& group) const {
    return profile.GetInt(kHost, group, 1);
}

void EngineHarness::Run() {
    Start();
    Wait();
}

void EngineHarness::Start() {
    running_ = nullptr;
    engine_ = std::make_unique<CProcessGroups>(profile, status, prompt, shared);
    engine_->SetSocketTimeouts(socketTimeouts);
    if (keyring) engine_->UseKeyring(*keyring);
    running_ = engine_.get();
    engine_->Start();
}

void EngineHarness::Wait() {
    engine_->Join();
}

void EngineHarness::RequestStop() {
    if (CProcessGroups* e = running_.load()) e->RequestStop();
}

void EngineHarness::Pause() {
    if (CProcessGroups* e = running_.load()) e->Pause();
}

void EngineHarness::Resume() {
    if (CProcessGroups* e = running_.load()) e->Resume();
}

void EngineHarness::CatchUp() {
    if (CProcessGroups* e = running_.load()) {
        e->SetCatchUp(1);
        e->RequestStop();
    }
}

int EngineHarness::CountCommands(const std::string& prefix) const {
    int n = 0;
    for (const std::string& c : server.Received()) n += c.rfind(prefix, 0) == 0;
    return n;
}

std::vector<std::string> EngineHarness::SavedFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(DownloadDir())) {
        if (entry.is_regular_file()) {
            names.push_back(entry.path().string().substr(DownloadDir().size()));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace qm::test
