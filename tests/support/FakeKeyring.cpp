#include "support/FakeKeyring.h"

namespace qm::test {

KeyringAnswer FakeKeyring::Offered() {
    std::lock_guard lock(mutex_);
    return unreachable_.empty() ? KeyringAnswer::Done() : KeyringAnswer::Unreachable(unreachable_);
}

KeyringAnswer FakeKeyring::Lookup(const std::string& host, const std::string& user) {
    std::lock_guard lock(mutex_);
    ++lookups_;
    if (!unreachable_.empty()) return KeyringAnswer::Unreachable(unreachable_);
    const auto kept = passwords_.find({host, user});
    return kept == passwords_.end() ? KeyringAnswer::NotFound() : KeyringAnswer::Done(kept->second);
}

KeyringAnswer FakeKeyring::Store(const std::string& host, const std::string& user,
                                 const std::string& password) {
    std::lock_guard lock(mutex_);
    if (!unreachable_.empty()) return KeyringAnswer::Unreachable(unreachable_);
    passwords_[{host, user}] = password;
    return KeyringAnswer::Done();
}

KeyringAnswer FakeKeyring::Remove(const std::string& host, const std::string& user) {
    std::lock_guard lock(mutex_);
    if (!unreachable_.empty()) return KeyringAnswer::Unreachable(unreachable_);
    passwords_.erase({host, user});
    return KeyringAnswer::Done();
}

void FakeKeyring::Put(const std::string& host, const std::string& user,
                      const std::string& password) {
    std::lock_guard lock(mutex_);
    passwords_[{host, user}] = password;
}

std::string FakeKeyring::Kept(const std::string& host, const std::string& user) const {
    std::lock_guard lock(mutex_);
    const auto kept = passwords_.find({host, user});
    return kept == passwords_.end() ? "<none>" : kept->second;
}

void FakeKeyring::MakeUnreachable(const std::string& reason) {
    std::lock_guard lock(mutex_);
    unreachable_ = reason;
}

int FakeKeyring::Lookups() const {
    std::lock_guard lock(mutex_);
    return lookups_;
}

}  // namespace qm::test
