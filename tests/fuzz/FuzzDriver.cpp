// Stand-in for libFuzzer where clang's is missing: takes the same command
// line (-max_total_time=, -runs=, corpus folders; other options are
// ignored), runs every seed, then pseudo-random mutations of them from a
// fixed seed. Nothing is written.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    double seconds = 3;
    long runs = -1;
    std::vector<std::vector<uint8_t>> seeds{{}};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-max_total_time=", 16) == 0)
            seconds = std::atof(argv[i] + 16);
        else if (std::strncmp(argv[i], "-runs=", 6) == 0)
            runs = std::atol(argv[i] + 6);
        else if (argv[i][0] != '-' && std::filesystem::is_directory(argv[i]))
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
                std::ifstream in(entry.path(), std::ios::binary);
                seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::mt19937 random(1);
    long n = 0;
    for (; runs < 0 ? std::chrono::steady_clock::now() < end : n < runs; ++n) {
        std::vector<uint8_t> input = seeds[n < static_cast<long>(seeds.size()) ? n : random() % seeds.size()];
        if (n >= static_cast<long>(seeds.size()))
            for (unsigned edits = 1 + random() % 4; edits > 0; --edits) {
                const size_t at = input.empty() ? 0 : random() % (input.size() + 1);
                switch (random() % 3) {
                case 0: input.insert(input.begin() + at, static_cast<uint8_t>(random())); break;
                case 1: if (at < input.size()) input.erase(input.begin() + at); break;
                default: if (at < input.size()) input[at] = static_cast<uint8_t>(random()); break;
                }
            }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("stat::number_of_executed_units: %ld\n%ld inputs, no fault\n", n, n);
    return 0;
}
