// Broken invariants.
//
// A condition that the system's own code guarantees (not one that bad input can cause) is checked
// with VOK_INVARIANT; when it fails the operation stops by throwing InvariantFailure. Nothing in
// the core catches it: the Python call frame turns it into the panic exception, so a bug ends one
// call with a clear message instead of ending the interpreter with abort().
#pragma once

#include <stdexcept>
#include <string>

namespace vok {

class InvariantFailure : public std::logic_error {
public:
    explicit InvariantFailure(const std::string& what) : std::logic_error(what) {}
};

[[noreturn]] inline void invariant_failed(const std::string& message) {
    throw InvariantFailure(message);
}

} // namespace vok

#define VOK_INVARIANT(cond, message)                                                               \
    do {                                                                                           \
        if (!(cond)) ::vok::invariant_failed(message);                                             \
    } while (0)
