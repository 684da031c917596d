#pragma once

namespace vyk::pd {

// One of the notebook's two USB-C PD controllers, as the EC's mailbox
// numbers them. Not an I/O port: those are the EC's index and data ports.
enum class PdPort { Port1 = 1, Port2 = 2 };

inline int PortNumber(PdPort port) { return static_cast<int>(port); }
inline PdPort PdPortOf(int number) { return number == 1 ? PdPort::Port1 : PdPort::Port2; }

} // namespace vyk::pd
