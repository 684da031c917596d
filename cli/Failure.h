#pragma once
#include <exception>
#include <string>
#include <utility>

#include "cli/ExitCodes.h"

namespace vyk::cli {

// Why a step of vykuu failed, with the exit code it ends the run with. It
// gains context as it rises: a failure "EC stayed busy" seen by the block
// step and then by the flash reads "flash write: block 0x00C4: EC stayed
// busy" once both have put their word before it.
class Failure : public std::exception {
public:
    Failure(int code, std::string message) : code_(code), message_(std::move(message)) {}

    int Code() const { return code_; }
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
    int code_;
    std::string message_;
    std::string advice_;
};

// The ports cannot be reached; the message says why and what to do.
class NoPortAccess : public Failure {
public:
    explicit NoPortAccess(std::string message) : Failure(ExitNoPortAccess, std::move(message)) {}
};

// Another program drives the EC (or holds the simulator folder); nothing
// was touched. The message names the holder's lock.
class EcInUse : public Failure {
public:
    explicit EcInUse(std::string message) : Failure(ExitEcInUse, std::move(message)) {}
};

// A file that must not be replaced exists already.
class NameTaken : public Failure {
public:
    explicit NameTaken(std::string message) : Failure(ExitFile, std::move(message)) {}
};

} // namespace vyk::cli
