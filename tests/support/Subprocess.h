#pragma once
// Runs an outside program (an encoder, the command-line runner) to completion and collects what
// it printed, for tests that check real tools' output or the product's own executables.

#include <sys/types.h>

#include <functional>
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
// whileRunning, when given, runs on its own thread with the child's pid while the child runs
// (to signal it, say).
ProcessResult RunProcess(const std::vector<std::string>& args,
                         const std::function<void(pid_t)>& whileRunning = {});

}  // namespace qm::test
