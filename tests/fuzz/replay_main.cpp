// Feeds every file under the given folders (or the given files) to a fuzz target, once each, so the
// ordinary build replays the corpus and every input that once crashed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path root(argv[i]);
        if (fs::is_directory(root)) {
            for (const auto &entry : fs::recursive_directory_iterator(root))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else if (fs::is_regular_file(root)) {
            files.push_back(root);
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &path : files) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // A copy on the heap of exactly the input's size, so a read past its end is caught.
        std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
        std::fprintf(stderr, "%s\n", path.c_str());
        LLVMFuzzerTestOneInput(copy.data(), copy.size());
    }
    std::fprintf(stderr, "replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0; // an empty corpus would prove nothing
}
