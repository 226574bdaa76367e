// Runs a fuzz harness over files without libFuzzer: each argument is a file or a directory
// of files, fed to LLVMFuzzerTestOneInput once each. Used to replay the seed corpora and
// the regression inputs in the normal test suite.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char *argv[])
{
    namespace fs = std::filesystem;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path argument(argv[i]);
        std::vector<fs::path> paths;
        std::error_code error;
        if (fs::is_directory(argument, error)) {
            for (const auto &entry : fs::directory_iterator(argument, error)) {
                if (entry.is_regular_file(error))
                    paths.push_back(entry.path());
            }
            // In name order, so a failure shows the same input on every run.
            std::sort(paths.begin(), paths.end());
        } else {
            paths.push_back(argument);
        }
        for (const fs::path &path : paths) {
            std::ifstream file(path, std::ios::binary);
            if (!file) {
                std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
                return 1;
            }
            const std::string data((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.data()),
                                   data.size());
            ++files;
        }
    }
    std::printf("%d inputs replayed\n", files);
    return 0;
}
