// The part store of multi-part posts. Round trip: a file cut into yEnc parts and kept in any order
// comes back byte for byte and checks out whole. Recovery: whatever a torn, corrupt or foreign
// store directory holds, loading it never touches a file outside it, keeps only parts whose
// bytes are there, and a second load finds what the first one left.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <numeric>

#include "FuzzSupport.h"
#include "engine/PartCounter.h"
#include "engine/PartStore.h"
#include "support/RealEncoders.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

ScratchDir scratch;

void FeedLines(CYEncDecoder& decoder, std::string_view text) {
    for (std::string_view line : Lines(text)) decoder.DecodeLine(line);
}

void RoundTrip(FuzzedDataProvider& in, const std::string& dir) {
    const int total = in.ConsumeIntegralInRange<int>(2, 6);
    std::vector<int> order(static_cast<std::size_t>(total));
    std::iota(order.begin(), order.end(), 1);
    for (std::size_t i = order.size(); i > 1; --i) {
        std::swap(order[i - 1], order[in.ConsumeIntegralInRange<std::size_t>(0, i - 1)]);
    }
    const std::string data = in.ConsumeRemainingBytesAsString().substr(0, 1 << 16);
    if (data.size() < static_cast<std::size_t>(total)) return;
    const std::string key = PostKey("\"f.jpg\" yEnc ", "a@b", total);
    PartStore store(dir + "parts");
    FUZZ_CHECK(store.Load(1));
    const std::size_t step = (data.size() + total - 1) / total;
    for (int k : order) {
        const std::size_t begin = (k - 1) * step + 1;
        const std::size_t end = std::min(data.size(), k * step);
        if (begin > end) return;  // a cut that leaves a part empty is no posting
        CYEncDecoder decoder(store.DataPath(key), [&](const YEncPartInfo& info) {
            return store.Admits(key, total, info);
        });
        FeedLines(decoder, test::YEncode(data, "f.jpg", test::YEncPart{k, total, begin, end}));
        FUZZ_CHECK(decoder.Close() == YEncVerdict::kOk);
        FUZZ_CHECK(store.RecordYEncPart(key, decoder.PartInfo(), "alt.pics", 2));
    }
    PartStore again(dir + "parts");
    FUZZ_CHECK(again.Load(3));
    const StoredPost* post = again.Find(key);
    FUZZ_CHECK(post != nullptr && post->Complete() && again.VerifyWhole(*post));
    FUZZ_CHECK(ReadFile(again.DataPath(key)) == data);
}

void Recovery(FuzzedDataProvider& in, const std::string& dir) {
    const std::string store = dir + "parts/";
    fs::create_directories(store);
    WriteFile(dir + "outside", "keep");
    // Files of the store's own forms and others, with whatever the input says.
    const std::string ids[] = {PartStore::IdOf("a"), PartStore::IdOf(PostKey("s", "f", 3))};
    while (in.remaining_bytes() > 0) {
        const std::string& id = ids[in.ConsumeIntegralInRange<int>(0, 1)];
        std::string name;
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
            case 0:
                name = id + ".post";
                break;
            case 1:
                name = id + ".data";
                break;
            case 2:
                name = id + "." + std::to_string(in.ConsumeIntegralInRange<int>(0, 4)) + ".uu";
                break;
            case 3:
                name = "Completed";
                break;
            default:
                name = "other";
        }
        WriteFile(store + name, in.ConsumeRandomLengthString(4096));
    }
    const std::vector<std::string> before = FilesBelow(dir);
    PartStore first(store);
    FUZZ_CHECK(first.Load(1000000));
    for (const std::string& file : FilesBelow(dir)) {
        // Loading only removes (and may trim Completed): it creates nothing.
        FUZZ_CHECK(std::find(before.begin(), before.end(), file) != before.end());
    }
    FUZZ_CHECK(ReadFile(dir + "outside") == "keep");
    for (const StoredPost* post : first.Posts()) {
        FUZZ_CHECK(post->id == PartStore::IdOf(post->key) && post->total >= 2);
        long previous = 0;
        for (const StoredPost::Part& part : post->parts) {
            FUZZ_CHECK(part.number > previous && part.number <= post->total);
            previous = part.number;
            if (post->encoding == StoredPost::Encoding::YEnc) FUZZ_CHECK(part.end <= post->size);
        }
    }
    PartStore second(store);
    FUZZ_CHECK(second.Load(1000000));
    FUZZ_CHECK(second.PendingCount() == first.PendingCount());
    for (const StoredPost* post : first.Posts()) {
        const StoredPost* again = second.Find(post->key);
        FUZZ_CHECK(again != nullptr && again->parts.size() == post->parts.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string& dir = scratch.Fresh();
    if (in.ConsumeBool()) {
        RoundTrip(in, dir);
    } else {
        Recovery(in, dir);
    }
    return 0;
}
