#pragma once
// Runs an outside program (an encoder, the command-line runner) to completion and collects what
// it printed, for tests that check real tools' output or the product's own executables.

#include <string>
#include <vector>

namespace qm::test {

struct ProcessResult {
    int exitCode = -1;   // -1 when it could not be started or did not exit normally
    std::string output;  // everything written to stdout
    std::string errors;  // everything written to stderr
};

// Runs args[0] (a path) with the given arguments, stdin from /dev/null, and waits for it. The
// child inherits none of the caller's other descriptors.
ProcessResult RunProcess(const std::vector<std::string>& args);

}  // namespace qm::test
