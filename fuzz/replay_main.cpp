// Replays fuzz inputs without libFuzzer: every file named on the command line, and every file of
// every directory named there (in name order), is handed to the harness once. A harness that finds
// a fault stops the program (sanitizer report, abort), so the replay fails; otherwise it ends with
// status 0 and the number of inputs replayed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

bool replay_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that the sanitizers see any read past its end.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    std::uint8_t *data = input.empty() ? nullptr : input.data();
    LLVMFuzzerTestOneInput(data, input.size());
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus directory or file> ...\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path root = argv[i];
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(root)) {
            for (const auto &entry : std::filesystem::directory_iterator(root))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            if (files.empty()) {
                // An empty corpus is a mistake of the repository, not a pass.
                std::fprintf(stderr, "replay: no inputs in %s\n", root.string().c_str());
                return 1;
            }
        } else {
            files.push_back(root);
        }
        for (const auto &file : files) {
            if (!replay_file(file)) return 1;
            ++replayed;
        }
    }
    std::fprintf(stderr, "replayed %zu inputs\n", replayed);
    return 0;
}
