// Stand-in for libFuzzer where clang's is missing: feeds the fuzz target a
// fixed number of pseudo-random inputs from a fixed seed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    const long runs = argc > 1 ? std::atol(argv[1]) : 200000;
    std::mt19937 random(1);
    std::vector<uint8_t> input;
    for (long i = 0; i < runs; ++i) {
        input.resize(random() % 160);
        for (auto& b : input)
            b = static_cast<uint8_t>(random());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld inputs, no fault\n", runs);
    return 0;
}
