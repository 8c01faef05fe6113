#pragma once
// The failures that the host framework, the kernels and the plug-in throw.  Three kinds cross every
// layer: std::bad_alloc for exhausted memory, Mav::Interrupted when the user aborted the operation
// that was reporting progress, and Mav::Exception carrying a text for everything else.

#include <exception>
#include <new>
#include <string>
#include <utility>

namespace Mav {

class Exception : public std::exception {
public:
    explicit Exception(std::string text) : text(std::move(text)) {}
    ~Exception() override;
    const char* what() const noexcept override { return text.c_str(); }

    std::string text;
};

// Carries nothing: catchers only need to know that the work was abandoned on request.
struct Interrupted {};

namespace Host::System {

// Out-of-memory failures of the host say "bad allocation" rather than the runtime's own text, so
// that the message a user may see is the same whichever allocation ran out.
class BadAllocation : public std::bad_alloc {
public:
    const char* what() const noexcept override;
};

[[noreturn]] void throwBadAllocation();

}  // namespace Host::System
}  // namespace Mav
