// Replays saved inputs through a fuzz target without libFuzzer, so that any
// compiler and every test run can check the committed corpus. Each argument is
// a file or a directory of files; a failing input ends the run with the
// target's own report, and the name of the input is printed first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputs_named_by(const char* argument) {
    std::vector<fs::path> files;
    if (fs::is_directory(argument)) {
        for (const auto& entry : fs::directory_iterator(argument))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
    } else {
        files.emplace_back(argument);
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& file : inputs_named_by(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 2;
            }
            const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
            // Standard output may be closed by the target; the name goes to stderr.
            std::fprintf(stderr, "replaying %s\n", file.c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::fprintf(stderr, "replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 2;
}
