// The integer rule of settings and replies: the leading decimal digits, saturating at LONG_MAX.

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>

#include "FuzzSupport.h"
#include "settings/ProfileStore.h"
#include "util/TextFiles.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

long Reference(std::string_view text) {
    long value = 0;
    for (size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (value > (LONG_MAX - digit) / 10) return LONG_MAX;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(AsText(data, size));
    FUZZ_CHECK(LeadingNumber(text) == Reference(text));
    FUZZ_CHECK(ProfileStore::ParseInt(text) == Reference(text));
    // A decimal that fits reads as itself, whatever follows it.
    FuzzedDataProvider in(data, size);
    long n = in.ConsumeIntegralInRange<long>(0, LONG_MAX);
    std::string tail = in.ConsumeRemainingBytesAsString();
    if (!tail.empty() && tail[0] >= '0' && tail[0] <= '9') tail.clear();
    FUZZ_CHECK(LeadingNumber(std::to_string(n) + tail) == n);
    return 0;
}
