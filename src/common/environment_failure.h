// Failures of the machine, not of the module's code or of the caller's input.
//
// Some operations need what the system provides and may lack: an algorithm of the system's
// libcrypto (a configuration that loads no provider offering SHA-256 or Ed25519), a source of
// random bytes. Like running out of memory, this can arise deep inside any operation that hashes
// or makes ids, and no caller can do better than report it, so it is thrown as
// EnvironmentFailure, as running out of memory is thrown as bad_alloc; the Python call frame
// turns it into RuntimeError with its text. A broken invariant stays an InvariantFailure.
#pragma once

#include <stdexcept>
#include <string>

namespace vok {

class EnvironmentFailure : public std::runtime_error {
public:
    explicit EnvironmentFailure(const std::string& what) : std::runtime_error(what) {}
};

[[noreturn]] inline void environment_failed(const std::string& message) {
    throw EnvironmentFailure(message);
}

} // namespace vok
