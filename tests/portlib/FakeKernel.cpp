#include "tests/portlib/FakeKernel.h"

namespace vyk::test {

VykKernel FakeKernel::Table()
{
    VykKernel t{};
    t.context = this;
    t.readByte = [](void* c, uint16_t port) -> uint8_t {
        auto& k = *static_cast<FakeKernel*>(c);
        const uint8_t v = k.chip.In(port);
        k.accesses.push_back({false, port, v});
        k.unlockedAccesses += !k.locked;
        return v;
    };
    t.writeByte = [](void* c, uint16_t port, uint8_t v) {
        auto& k = *static_cast<FakeKernel*>(c);
        k.chip.Out(port, v);
        k.accesses.push_back({true, port, v});
        k.unlockedAccesses += !k.locked;
    };
    t.lock = [](void* c) -> uintptr_t {
        auto& k = *static_cast<FakeKernel*>(c);
        k.lockedAt.push_back(k.accesses.size());
        k.locked = true;
        return 0x5A;
    };
    t.unlock = [](void* c, uintptr_t token) {
        auto& k = *static_cast<FakeKernel*>(c);
        // The token lock gave back: the driver restores the IRQL it saved.
        k.unlockedAt.push_back(token == 0x5A ? k.accesses.size() : static_cast<std::size_t>(-1));
        k.locked = false;
    };
    return t;
}

} // namespace vyk::test
