// The settings loader on whatever bytes lie in settings.json: it must always
// construct, keep only values it can write back, and read its own file again.
#include "base/json_file_key_value_store.h"
#include "base/log.h"
#include "fuzz_scratch.h"

#include <cstdlib>

using namespace quellora;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Log::setSinks({});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::emptyScratchFolder();
    const auto file = fuzzing::scratchFolder() / "settings.json";
    fuzzing::writeInput(file, data, size);
    JsonFileKeyValueStore store(file);
    // Saving rewrites everything that was loaded; loading that must give it back.
    store.setValue("fuzz.marker", true);
    const JsonFileKeyValueStore reloaded(file);
    if (!reloaded.boolValue("fuzz.marker")) {
        std::abort();
    }
    return 0;
}
