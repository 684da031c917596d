#pragma once
#include <exception>
#include <string>
#include <utility>

namespace vyk {

// What kind of thing went wrong. The numbers are vykuu's exit codes, which
// scripts branch on: keep them stable.
enum class Fault : int {
    Internal = 1,      // something this tool did not foresee
    Usage = 2,         // bad arguments, address text or range
    File = 3,          // image or output refused, unreadable or not writable
    NoPortAccess = 4,  // ports refused, port library missing, driver closed, simulator folder unusable
    EcBusy = 5,        // the EC did not return to idle within the bound
    Verify = 6,        // read-back differs from the image
    RangeRefused = 7,  // the range does not fit the flash or the image buffer
    Interrupted = 8,   // stopped on request: the block in flight completed, the PD was reset
    EcInUse = 9,       // another program drives the EC or holds the simulator folder
    NoEc = 10,         // no EC answers at 0x4E/0x4F
    OnBattery = 11,    // flash refused: on battery below 30 %
    NotVerified = 12,  // stopped once the write was whole: validated, PD reset, not read back
};

// Why a step failed. It gains context as it rises: a failure "EC stayed
// busy" seen by the block step and then by the flash reads "flash write:
// block 0x00C4: EC stayed busy" once both have put their word before it.
class Failure : public std::exception {
public:
    Failure(Fault fault, std::string message) : fault_(fault), message_(std::move(message)) {}

    Fault Kind() const { return fault_; }
    const std::string& Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    // "CONTEXT: message"
    Failure& Within(const std::string& context)
    {
        message_ = context + ": " + message_;
        return *this;
    }
    // "message TEXT": what the failure left undone, or what to do.
    Failure& Then(const std::string& text)
    {
        message_ += text;
        return *this;
    }
    // What the PD may be left in and what puts it right, told after the
    // message; empty: nothing to fear.
    Failure& Advise(std::string advice)
    {
        advice_ = std::move(advice);
        return *this;
    }
    const std::string& Advice() const { return advice_; }

private:
    Fault fault_;
    std::string message_;
    std::string advice_;
};

// The ports cannot be reached; the message says why and what to do.
class NoPortAccess : public Failure {
public:
    explicit NoPortAccess(std::string message) : Failure(Fault::NoPortAccess, std::move(message)) {}
};

// Another program drives the EC (or holds the simulator folder); nothing
// was touched. The message names the holder's lock.
class EcInUse : public Failure {
public:
    explicit EcInUse(std::string message) : Failure(Fault::EcInUse, std::move(message)) {}
};

// A file that must not be replaced exists already.
class NameTaken : public Failure {
public:
    explicit NameTaken(std::string message) : Failure(Fault::File, std::move(message)) {}
};

} // namespace vyk
