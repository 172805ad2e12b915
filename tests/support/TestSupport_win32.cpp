// Temporary folders on Windows (pseudo-terminals have no Windows counterpart here).
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/TestSupport.h"

namespace testsupport {

TempDir::TempDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    // Tests run in parallel processes: the process id and a counter make the name unique, and
    // create_directory refuses a name that exists, so a leftover folder is never reused.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::filesystem::path candidate =
            base / ("iap-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(candidate)) {
            const std::u8string utf8 = candidate.u8string();
            path_.assign(utf8.begin(), utf8.end());
            return;
        }
    }
    throw std::runtime_error("no fresh temporary folder under " + base.string());
}

}  // namespace testsupport
