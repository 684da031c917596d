#pragma once
#include <cstdint>
#include <stdexcept>

namespace vyk {

// The two operations every way of reaching I/O ports offers: the port
// library's OutPortByte/InPortByte, the simulated notebook, Linux ioperm.
// Bound at run time; nothing above this knows which one it talks to.
class IoPort {
public:
    virtual ~IoPort() = default;
    // Writes the low 8 bits of data to the port.
    virtual void OutPortByte(uint16_t port, uint16_t data) = 0;
    // Returns the byte read in the low 8 bits.
    virtual uint16_t InPortByte(uint16_t port) = 0;
};

// Thrown by a port backend that can no longer do its work (a simulated
// notebook whose folder is in use or unwritable); real ports never throw.
class PortFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace vyk
