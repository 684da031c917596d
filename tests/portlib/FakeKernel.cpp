#include "tests/portlib/FakeKernel.h"

namespace vyk::test {

VykKernel FakeKernel::Table()
{
    VykKernel t{};
    t.context = this;
    t.readByte = [](void* c, uint16_t port) -> uint8_t {
        auto& k = *static_cast<FakeKernel*>(c);
        k.accesses.push_back({false, port, k.portBytes[port]});
        return k.portBytes[port];
    };
    t.writeByte = [](void* c, uint16_t port, uint8_t v) {
        auto& k = *static_cast<FakeKernel*>(c);
        k.accesses.push_back({true, port, v});
        k.portBytes[port] = v;
    };
    return t;
}

} // namespace vyk::test
