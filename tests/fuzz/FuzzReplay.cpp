// The seed corpora as ordinary tests: a main in place of libFuzzer's that puts every file of the
// folders it is given through the target once. Any build runs it (GCC, the Windows build under
// wine), so a seed that crashes or fails a check fails the test run of every build, not only a
// fuzzing run with clang. A failed check aborts the program; the file it was on is the last named.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
        return 2;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (std::filesystem::directory_iterator it(argv[i], error), end; !error && it != end; it.increment(error))
            if (it->is_regular_file()) files.push_back(it->path());
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const std::filesystem::path& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            // libFuzzer never passes a null pointer, not even for an empty input.
            std::vector<uint8_t> input(bytes.size() + 1);
            std::copy(bytes.begin(), bytes.end(), input.begin());
            std::printf("%s: %zu bytes\n", file.string().c_str(), bytes.size());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(input.data(), bytes.size());
            ++replayed;
        }
    }
    // A folder that lost its seeds would otherwise pass without testing anything.
    if (replayed == 0) {
        std::fprintf(stderr, "no inputs in the corpus\n");
        return 1;
    }
    std::printf("%zu inputs replayed\n", replayed);
    return 0;
}
