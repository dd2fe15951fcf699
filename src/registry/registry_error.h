// RegistryError: everything that can go wrong while loading a namespace registry, discovering
// one, or mapping files to namespaces.
//
// The registry reports one error type whose alternatives carry the values their messages need;
// `to_string` is the only place the message texts live, so the Python layer (which turns every
// alternative into the same exception) and the tests read identical text.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/error_variant.h"

namespace vok::registry {

struct RegistryErrorAlternatives {
    // An operating-system failure; `message` is the system's text, e.g.
    // "No such file or directory (os error 2)".
    struct Io {
        std::string message;
    };
    // The registry file is longer than any registry needs to be (reading /dev/zero would never
    // end); `limit` is the most bytes read.
    struct TooLarge {
        std::string path;
        std::size_t limit;
    };
    // The registry path names something other than a regular file (a FIFO, a socket, a device;
    // a directory where discovery found one); `kind` says what, e.g. "a FIFO". Such a file is
    // never read: a FIFO would block the caller for as long as its writer lives.
    struct NotRegularFile {
        std::string path;
        std::string kind;
    };
    // The registry file is not valid TOML or does not have the expected shape.
    struct Parse {
        std::string message;
    };
    struct UnsupportedVersion {
        std::uint8_t version;
    };
    struct NoNamespaces {};
    struct EmptyPatterns {
        std::string namespace_name;
    };
    struct InvalidPattern {
        std::string pattern;
        std::string namespace_name;
        std::string glob_error;
    };
    // A pattern could not be turned into a directory walker.
    struct GlobBuild {
        std::string pattern;
        std::string message;
    };
    // The directory walk itself failed, e.g. on an unreadable directory.
    struct Walk {
        std::string message;
    };
    // A file matched namespaces of equal specificity and the caller asked for a failure.
    struct AmbiguousList {
        std::string path;
        std::vector<std::string> namespaces;
    };

    using Variant =
        std::variant<Io, Parse, UnsupportedVersion, NoNamespaces, EmptyPatterns, InvalidPattern,
                     GlobBuild, Walk, AmbiguousList, TooLarge, NotRegularFile>;
};

struct RegistryError : ErrorVariant<RegistryErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    std::string to_string() const;
};

} // namespace vok::registry
