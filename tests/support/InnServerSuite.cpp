#include "support/InnServerSuite.h"

namespace qm::test {

std::unique_ptr<InnServer> InnServerSuite::server_;
std::string InnServerSuite::startError_;

void InnServerSuite::SetUpTestSuite() {
    server_ = std::make_unique<InnServer>();
    startError_.clear();
    if (InnServer::Available() && !server_->Start()) startError_ = server_->error();
}

void InnServerSuite::TearDownTestSuite() {
    server_.reset();
}

void InnServerSuite::SetUp() {
    if (!InnServer::Available()) {
        if (InnServer::RequiredByEnvironment()) {
            FAIL() << "INN is required under CI but not usable (inn2 missing or not root); "
                      "run scripts/install-deps.sh";
        }
        GTEST_SKIP() << "INN not usable: inn2 missing (scripts/install-deps.sh) or not root";
    }
    ASSERT_TRUE(server_->running()) << "INN did not start: " << startError_;
}

}  // namespace qm::test
