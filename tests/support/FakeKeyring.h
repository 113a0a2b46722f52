#pragma once
// A keyring in memory for the tests of its users: passwords by host and user, a reason that
// makes every call unreachable, and a count of the calls.

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "keyring/PasswordKeyring.h"

namespace qm::test {

class FakeKeyring : public PasswordKeyring {
public:
    KeyringAnswer Offered() override;
    KeyringAnswer Lookup(const std::string& host, const std::string& user) override;
    KeyringAnswer Store(const std::string& host, const std::string& user,
                        const std::string& password) override;
    KeyringAnswer Remove(const std::string& host, const std::string& user) override;

    void Put(const std::string& host, const std::string& user, const std::string& password);
    // The password kept for user at host, or "<none>".
    std::string Kept(const std::string& host, const std::string& user) const;
    // Every call from now on answers Unreachable with reason ("" : reachable again).
    void MakeUnreachable(const std::string& reason);
    int Lookups() const;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::string> passwords_;
    std::string unreachable_;
    int lookups_ = 0;
};

}  // namespace qm::test
