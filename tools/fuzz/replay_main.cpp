// Runs a fuzz target over files and folders of inputs once each, for builds without libFuzzer (g++).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize);
extern "C" int LLVMFuzzerInitialize(int *AArgc, char ***AArgv) __attribute__((weak));

namespace fs = std::filesystem;

static bool RunFile(const fs::path &APath)
{
    std::ifstream in(APath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", APath.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return true;
}

int main(int AArgc, char **AArgv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&AArgc, &AArgv);
    // Absolute paths first: a target may change the working folder.
    std::vector<fs::path> args;
    for (int i = 1; i < AArgc; ++i)
        args.push_back(fs::absolute(AArgv[i]));
    int runs = 0;
    bool ok = true;
    for (const fs::path &arg : args) {
        if (fs::is_directory(arg)) {
            std::vector<fs::path> files;
            for (const auto &e : fs::recursive_directory_iterator(arg))
                if (e.is_regular_file())
                    files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto &f : files) {
                ok = RunFile(f) && ok;
                ++runs;
            }
        } else {
            ok = RunFile(arg) && ok;
            ++runs;
        }
    }
    std::printf("replay: %d inputs\n", runs);
    return ok && runs > 0 ? 0 : 1;
}
