#pragma once
// InnServerSuite: a GoogleTest fixture whose test suite shares one private INN server, started
// before the suite's first test and stopped after its last. Without INN the tests are skipped,
// except under CI, where a missing INN fails them.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/InnServer.h"

namespace qm::test {

class InnServerSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static InnServer& server() { return *server_; }

private:
    static std::unique_ptr<InnServer> server_;
    static std::string startError_;
};

}  // namespace qm::test
