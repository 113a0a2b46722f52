// The profile file: load, write, reload. Input: the file's text, then up to eight writes of
// section NUL key NUL value, each after a NUL.

#include "FuzzSupport.h"

using namespace qm;
using namespace qm::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    std::vector<std::string_view> parts = Split(AsText(data, size), '\0');
    struct Write {
        std::string section, key, value;
    };
    std::vector<Write> writes;
    for (size_t i = 1; i + 2 < parts.size() && writes.size() < 8; i += 3) {
        writes.push_back(
            {std::string(parts[i]), std::string(parts[i + 1]), std::string(parts[i + 2])});
    }
    std::string path = scratch.Fresh() + "quarrymoth.ini";
    WriteFile(path, parts[0]);
    ProfileStore store(path);
    const std::string missing = "\x01(missing)";
    auto sameAfterReload = [&] {
        ProfileStore fresh(path);
        for (const Write& w : writes) {
            FUZZ_CHECK(fresh.GetString(w.section, w.key, missing) ==
                       store.GetString(w.section, w.key, missing));
        }
    };
    for (const Write& w : writes) {
        if (!store.WriteString(w.section, w.key, w.value)) continue;
        // What the store accepts it reads back, and so does a fresh store, for every key named.
        if (w.value.find_first_of("\r\n") == std::string::npos)
            FUZZ_CHECK(store.GetString(w.section, w.key, missing) == w.value);
        sameAfterReload();
    }
    // A read mark as the engine writes it, many times a second, survives a reload.
    if (!writes.empty()) {
        const Write& w = writes.back();
        long mark = static_cast<long>(size) * 7919;
        store.WriteIntSoon(w.section, w.key, mark);
        if (store.Flush() && store.GetInt(w.section, w.key, -1) == mark) {
            FUZZ_CHECK(ProfileStore(path).GetInt(w.section, w.key, -1) == mark);
        }
    }
    return 0;
}
