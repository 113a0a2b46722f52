#include "support/TempDir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qm::test {

TempDir::TempDir() {
    char pattern[] = "/tmp/qmtest.XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    if (!previous_.empty()) {
        [[maybe_unused]] int rc = ::chdir(previous_.c_str());
    }
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void TempDir::Enter() {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) previous_ = cwd;
    if (::chdir(path_.c_str()) != 0) throw std::runtime_error("chdir failed");
}

std::string TempDir::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void TempDir::WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool TempDir::Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

}  // namespace qm::test
