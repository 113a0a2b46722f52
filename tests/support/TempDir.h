#pragma once
// A fresh directory under /tmp for one test, removed with everything in it afterwards; it can
// also make itself the current directory for the test's duration.

#include <string>

namespace qm::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    void Enter();  // chdir into it; the destructor changes back

    static std::string ReadFile(const std::string& path);
    static void WriteFile(const std::string& path, const std::string& content);
    static bool Exists(const std::string& path);

private:
    std::string path_;
    std::string previous_;
};

}  // namespace qm::test
