#include "tests/portlib/FakeKernel.h"

namespace vyk::test {
namespace {

FakeKernel& Self(void* c) { return *static_cast<FakeKernel*>(c); }

uint16_t Word(FakeKernel& k, uint16_t port)
{
    return static_cast<uint16_t>(k.portBytes[port] | (k.portBytes[static_cast<uint16_t>(port + 1)] << 8));
}

} // namespace

VykKernel FakeKernel::Table()
{
    VykKernel t{};
    t.context = this;
    t.readByte = [](void* c, uint16_t port) -> uint8_t {
        auto& k = Self(c);
        k.accesses.push_back({false, 1, port, k.portBytes[port]});
        return k.portBytes[port];
    };
    t.readWord = [](void* c, uint16_t port) -> uint16_t {
        auto& k = Self(c);
        const uint16_t v = Word(k, port);
        k.accesses.push_back({false, 2, port, v});
        return v;
    };
    t.readDword = [](void* c, uint16_t port) -> uint32_t {
        auto& k = Self(c);
        const uint32_t v = Word(k, port) | (static_cast<uint32_t>(Word(k, static_cast<uint16_t>(port + 2))) << 16);
        k.accesses.push_back({false, 4, port, v});
        return v;
    };
    t.writeByte = [](void* c, uint16_t port, uint8_t v) {
        auto& k = Self(c);
        k.accesses.push_back({true, 1, port, v});
        k.portBytes[port] = v;
    };
    t.writeWord = [](void* c, uint16_t port, uint16_t v) { Self(c).accesses.push_back({true, 2, port, v}); };
    t.writeDword = [](void* c, uint16_t port, uint32_t v) { Self(c).accesses.push_back({true, 4, port, v}); };

    t.openPhysicalMemory = [](void* c, uint64_t* section) -> VykStatus {
        auto& k = Self(c);
        if (k.openStatus < 0)
            return k.openStatus;
        *section = k.nextHandle;
        k.nextHandle += 4;
        k.openHandles.insert(*section);
        return VYK_STATUS_SUCCESS;
    };
    t.referenceSection = [](void* c, uint64_t section, void** object) -> VykStatus {
        auto& k = Self(c);
        if (!k.openHandles.count(section))
            return VYK_STATUS_INVALID_PARAMETER;
        if (k.referenceStatus < 0)
            return k.referenceStatus;
        ++k.references;
        *object = &k.references;
        return VYK_STATUS_SUCCESS;
    };
    t.dereferenceSection = [](void* c, void* object) {
        auto& k = Self(c);
        if (object == &k.references)
            --k.references;
    };
    t.translateAddress = [](void* c, uint64_t physical, uint64_t* translated) -> int {
        auto& k = Self(c);
        if (k.translateFails)
            return 0;
        *translated = physical + k.translateOffset;
        return 1;
    };
    t.mapView = [](void* c, uint64_t section, uint64_t offset, uint64_t length, uint64_t* viewBase,
                   uint64_t* mappedOffset) -> VykStatus {
        auto& k = Self(c);
        if (!k.openHandles.count(section) || length == 0)
            return VYK_STATUS_INVALID_PARAMETER;
        if (k.mapStatus < 0)
            return k.mapStatus;
        k.mappedOffsets.push_back(offset);
        *mappedOffset = offset & ~(Granularity - 1);
        *viewBase = k.nextViewBase;
        k.views[*viewBase] = length + (offset - *mappedOffset);
        k.nextViewBase += 0x1000000;
        return VYK_STATUS_SUCCESS;
    };
    t.unmapView = [](void* c, uint64_t linear) -> VykStatus {
        auto& k = Self(c);
        k.unmappedAddresses.push_back(linear);
        if (k.unmapStatus < 0)
            return k.unmapStatus;
        // Like the system: any address inside a view unmaps it.
        for (auto it = k.views.begin(); it != k.views.end(); ++it) {
            if (linear >= it->first && linear - it->first < it->second) {
                k.views.erase(it);
                return VYK_STATUS_SUCCESS;
            }
        }
        return VYK_STATUS_INVALID_PARAMETER;
    };
    t.closeHandle = [](void* c, uint64_t section) -> VykStatus {
        auto& k = Self(c);
        k.closedHandles.push_back(section);
        return k.openHandles.erase(section) ? VYK_STATUS_SUCCESS : VYK_STATUS_INVALID_PARAMETER;
    };
    return t;
}

} // namespace vyk::test
