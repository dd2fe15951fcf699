// Fuzzes namespace resolution: the input's bytes choose a registry file (namespaces whose glob
// patterns are built from literal text, escaped special characters, `*`, `?`, classes,
// alternatives and the three shapes of `**`) and paths made from the same pieces; the registry is
// written into a scratch directory that also holds a small fixed tree of files, loaded, and
// asked for the namespace of each path and for the files of the tree.
//
// The laws:
// - `namespace_for` gives the namespace a plain backtracking matcher over the generated pattern
//   pieces predicts (most specific literal prefix wins; a tie goes to the smallest name, or is
//   reported as ambiguous when asked), and the same answer for the path written as "./p",
//   "a//b" or absolute below the root;
// - `discover` from a folder below the root finds the same registry;
// - `resolve_files` lists existing files below the root, each once, in path order, each under a
//   declared namespace, and refuses only through ambiguity when asked to.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "file_match/path_text.h"
#include "fuzz_choices.h"
#include "registry/namespace_registry.h"

namespace {

namespace fs = std::filesystem;
using vok::fuzzing::broken;
using vok::fuzzing::Choices;
using vok::registry::NamespaceRegistry;

// ---- Patterns as pieces, and the reference matcher ----

struct Piece {
    enum Kind {
        Literal,
        Star,
        Any,
        Class,
        Alternatives,
        RecursivePrefix,
        RecursiveSuffix,
        RecursiveInfix,
        Everything
    } kind = Literal;
    std::u32string literal;                            // Literal
    std::vector<std::pair<char32_t, char32_t>> ranges; // Class
    bool negated = false;                              // Class
    std::vector<std::u32string> options;               // Alternatives: the non-empty ones
    std::string text;                                  // how the piece is written in a pattern
};

std::u32string decode(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
        for (size_t k = 1; k < n && i + k < s.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += c;
        i += n;
    }
    return out;
}

class Matcher {
public:
    Matcher(const std::vector<Piece>& pieces, const std::u32string& path)
        : pieces_(pieces), path_(path) {}

    bool run() { return match(0, 0); }

private:
    bool match(size_t p, size_t at) {
        if (p == pieces_.size()) return at == path_.size();
        const uint64_t key = uint64_t(p) << 32 | at;
        if (failed_.count(key)) return false;
        const bool ok = step(p, at);
        if (!ok) failed_.insert(key);
        return ok;
    }

    bool any_from(size_t p, size_t from) {
        for (size_t k = from; k <= path_.size(); ++k)
            if (match(p + 1, k)) return true;
        return false;
    }

    bool step(size_t p, size_t at) {
        const Piece& piece = pieces_[p];
        const size_t rest = path_.size() - at;
        switch (piece.kind) {
        case Piece::Literal:
            return rest >= piece.literal.size() &&
                   path_.compare(at, piece.literal.size(), piece.literal) == 0 &&
                   match(p + 1, at + piece.literal.size());
        case Piece::Star:
        case Piece::Everything:
            return any_from(p, at);
        case Piece::Any:
            return rest >= 1 && match(p + 1, at + 1);
        case Piece::Class: {
            if (rest < 1) return false;
            bool in = false;
            for (const auto& [low, high] : piece.ranges)
                in = in || (path_[at] >= low && path_[at] <= high);
            return in != piece.negated && match(p + 1, at + 1);
        }
        case Piece::Alternatives:
            if (piece.options.empty()) return match(p + 1, at);
            for (const std::u32string& o : piece.options)
                if (rest >= o.size() && path_.compare(at, o.size(), o) == 0 &&
                    match(p + 1, at + o.size()))
                    return true;
            return false;
        case Piece::RecursivePrefix: // "**/": nothing, "/", or anything up to a "/"
            if (match(p + 1, at)) return true;
            for (size_t k = at; k < path_.size(); ++k)
                if (path_[k] == U'/' && match(p + 1, k + 1)) return true;
            return false;
        case Piece::RecursiveSuffix: // "/**": a "/" and anything after it
            return rest >= 1 && path_[at] == U'/' && any_from(p, at + 1);
        case Piece::RecursiveInfix: // "/**/": one "/", or "/" anything "/"
            if (rest < 1 || path_[at] != U'/') return false;
            if (match(p + 1, at + 1)) return true;
            for (size_t k = at + 1; k < path_.size(); ++k)
                if (path_[k] == U'/' && match(p + 1, k + 1)) return true;
            return false;
        }
        return false;
    }

    const std::vector<Piece>& pieces_;
    const std::u32string& path_;
    std::set<uint64_t> failed_;
};

// ---- The generator ----

Piece piece(Piece::Kind kind, std::string text) {
    Piece p;
    p.kind = kind;
    p.text = std::move(text);
    return p;
}

Piece literal(const std::string& text, const std::string& written) {
    Piece p = piece(Piece::Literal, "");
    p.literal = decode(text);
    p.text = written;
    return p;
}

struct Pattern {
    std::vector<Piece> pieces;
    std::string text;
};

class Generator {
public:
    explicit Generator(Choices& c) : c_(c) {}

    Piece atom(bool after_star) {
        switch (c_.pick(after_star ? 5 : 6)) {
        case 0:
        case 1: {
            const char* words[] = {"src",  "lib",      "models", "a",   "b",    "x",
                                   ".vok", "\xc3\xa9", "-",      "a b", "deep", "x.vok"};
            const std::string w = words[c_.pick(std::size(words))];
            return literal(w, w);
        }
        case 2: {
            // A special character taken literally: escaped, or (for a brace or comma) bare where
            // it is not special.
            const char* specials[] = {"*", "?", "[", "]", "{", "}", "\\"};
            const std::string s = specials[c_.pick(std::size(specials))];
            return literal(s, "\\" + s);
        }
        case 3: {
            Piece p = piece(Piece::Class, "");
            switch (c_.pick(7)) {
            case 0:
                p.ranges = {{U'a', U'a'}, {U'b', U'b'}}, p.text = "[ab]";
                break;
            case 1:
                p.ranges = {{U'x', U'x'}}, p.negated = true, p.text = "[!x]";
                break;
            case 2:
                p.ranges = {{U'a', U'c'}}, p.text = "[a-c]";
                break;
            case 3:
                p.ranges = {{U'-', U'-'}, {U'z', U'z'}}, p.text = "[-z]";
                break;
            case 4:
                p.ranges = {{U'a', U'a'}, {U'b', U'b'}}, p.negated = true, p.text = "[^ab]";
                break;
            case 5:
                p.ranges = {{0xE9, 0xE9}}, p.text = "[\xc3\xa9]";
                break;
            default:
                p.ranges = {{U'.', U'.'}, {U'/', U'/'}}, p.text = "[./]";
            }
            return p;
        }
        case 4: {
            Piece p = piece(Piece::Alternatives, "");
            switch (c_.pick(4)) {
            case 0:
                p.options = {U"a", U"b"}, p.text = "{a,b}";
                break;
            case 1:
                p.options = {U"src", U"lib"}, p.text = "{src,lib}";
                break;
            case 2:
                p.options = {U"x.vok"}, p.text = "{x.vok,}";
                break;
            default:
                p.options = {}, p.text = "{,}";
            }
            return p;
        }
        default:
            return c_.chance(50) ? piece(Piece::Star, "*") : piece(Piece::Any, "?");
        }
    }

    void component(Pattern& pattern) {
        bool after_star = false;
        for (size_t i = 0, n = 1 + c_.pick(3); i < n; ++i) {
            Piece p = atom(after_star);
            // Two stars side by side would read as "**", which must stand alone.
            after_star = p.kind == Piece::Star;
            pattern.text += p.text;
            pattern.pieces.push_back(std::move(p));
        }
    }

    Pattern pattern() {
        Pattern p;
        if (c_.chance(5)) {
            p.pieces.push_back({Piece::Everything, {}, {}, false, {}, "**"});
            p.text = "**";
            return p;
        }
        if (c_.chance(25)) {
            p.pieces.push_back({Piece::RecursivePrefix, {}, {}, false, {}, "**/"});
            p.text = "**/";
        }
        for (size_t i = 0, n = 1 + c_.pick(3); i < n; ++i) {
            if (i > 0) {
                if (c_.chance(25)) {
                    p.pieces.push_back({Piece::RecursiveInfix, {}, {}, false, {}, "/**/"});
                    p.text += "/**/";
                } else {
                    p.pieces.push_back(literal("/", "/"));
                    p.text += "/";
                }
            }
            component(p);
        }
        if (c_.chance(20)) {
            p.pieces.push_back({Piece::RecursiveSuffix, {}, {}, false, {}, "/**"});
            p.text += "/**";
        }
        return p;
    }

    std::string path() {
        const char* segments[] = {
            "src", "lib", "models", "a",   "b",    "x.vok", "a.vok", "b.vok", "\xc3\xa9.vok",
            "*",   "[",   "-",      "a b", "deep", "x",     "{",     "c.vok"};
        std::string out;
        for (size_t i = 0, n = 1 + c_.pick(4); i < n; ++i) {
            if (i > 0) out += '/';
            out += segments[c_.pick(std::size(segments))];
        }
        return out;
    }

private:
    Choices& c_;
};

// ---- The scratch directory ----

// A folder of its own under the temporary directory, made on first use with a small fixed tree
// of files, and removed with everything in it when the run ends normally (a crash leaves it for
// the reproduction).
class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "registry_match_fuzz.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        root_ = fs::canonical(pattern);
        for (const char* file : {"src/a.vok", "src/models/b.vok", "src/models/deep/c.vok",
                                 "lib/x.vok", "x.vok", "README", "a b/\xc3\xa9.vok", "[/x.vok"}) {
            fs::create_directories((root_ / file).parent_path());
            std::ofstream(root_ / file) << "Entity \"E\"\n";
        }
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

const fs::path& scratch_root() {
    static const Scratch scratch;
    return scratch.root();
}

size_t specificity(const std::string& pattern) {
    const size_t special = pattern.find_first_of("*?[]{}\\");
    return special == std::string::npos ? pattern.size() : special;
}

std::string describe(const vok::Result<std::string, vok::registry::RegistryError>& r) {
    return r.ok() ? *r : "error: " + r.error().to_string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& root = scratch_root();
    Choices c(data, size);
    Generator g(c);

    struct Namespace {
        std::string name;
        std::vector<Pattern> patterns;
    };
    std::vector<Namespace> namespaces;
    const char* names[] = {"alpha", "beta", "gamma", "delta"};
    for (size_t i = 0, n = 1 + c.pick(4); i < n; ++i) {
        Namespace ns{names[i], {}};
        for (size_t k = 0, m = 1 + c.pick(3); k < m; ++k)
            ns.patterns.push_back(g.pattern());
        namespaces.push_back(std::move(ns));
    }
    const bool has_default = c.chance(50);
    std::string toml = "version = 1\n";
    if (has_default) toml += "default_namespace = 'shared'\n";
    for (const Namespace& ns : namespaces) {
        toml += "\n[[namespaces]]\nnamespace = '" + ns.name + "'\npatterns = [";
        for (size_t k = 0; k < ns.patterns.size(); ++k)
            toml += (k ? ", '" : "'") + ns.patterns[k].text + "'";
        toml += "]\n";
    }
    const fs::path file = root / ".vok-registry.toml";
    std::ofstream(file, std::ios::trunc) << toml;

    auto registry = NamespaceRegistry::from_file(file.string());
    if (!registry.ok())
        broken("a generated registry does not load", toml, registry.error().to_string());
    if (registry->root() != root) broken("the registry's root is not its folder", toml);

    auto found = NamespaceRegistry::discover((root / "src/models").string());
    if (!found.ok() || !*found || (*found)->root() != root ||
        (*found)->namespaces().size() != namespaces.size())
        broken("discover from below the root does not find the registry", toml);

    for (size_t round = 0, rounds = 1 + c.pick(6); round < rounds; ++round) {
        const std::string path = g.path();
        const std::u32string candidate = decode(path);
        std::vector<std::string> best;
        size_t best_specificity = 0;
        for (const Namespace& ns : namespaces) {
            bool matched = false;
            size_t s = 0;
            for (const Pattern& p : ns.patterns) {
                matched = matched || Matcher(p.pieces, candidate).run();
                s = std::max(s, specificity(p.text));
            }
            if (!matched) continue;
            if (best.empty() || s > best_specificity) {
                best_specificity = s;
                best.assign(1, ns.name);
            } else if (s == best_specificity) {
                best.push_back(ns.name);
            }
        }
        std::sort(best.begin(), best.end());
        const std::string fallback = has_default ? "shared" : "default";
        const std::string expected = best.empty() ? fallback : best.front();

        const std::string detail = toml + "--- path\n" + path;
        auto lenient = registry->namespace_for(path, false);
        if (describe(lenient) != expected)
            broken("namespace differs from the reference matcher's: " + expected, detail,
                   describe(lenient));
        auto strict = registry->namespace_for(path, true);
        if (best.size() > 1) {
            if (strict.ok()) broken("a tie is not reported as ambiguous", detail, *strict);
        } else if (describe(strict) != expected) {
            broken("strict resolution differs without a tie", detail, describe(strict));
        }
        std::string doubled = path;
        if (const size_t slash = doubled.find('/'); slash != std::string::npos)
            doubled.insert(slash, "/");
        for (const std::string& variant :
             {"./" + path, (root / path).string(), doubled, root.string() + "//" + path})
            if (describe(registry->namespace_for(variant, false)) != expected)
                broken("the same path written otherwise gets another namespace", detail,
                       variant + " -> " + describe(registry->namespace_for(variant, false)));
    }

    for (bool fail_on_ambiguity : {false, true}) {
        auto files = registry->resolve_files(fail_on_ambiguity);
        if (!files.ok()) {
            if (!fail_on_ambiguity ||
                !files.error().is<vok::registry::RegistryError::AmbiguousList>())
                broken("listing the files failed", toml, files.error().to_string());
            continue;
        }
        std::set<std::string> seen;
        for (size_t i = 0; i < files->size(); ++i) {
            const auto& binding = (*files)[i];
            const fs::path listed(binding.path);
            if (!fs::is_regular_file(listed) ||
                listed.string().rfind(root.string() + "/", 0) != 0 ||
                !seen.insert(binding.path).second)
                broken("a listed file is not a file below the root, or is listed twice", toml,
                       binding.path);
            if (std::none_of(namespaces.begin(), namespaces.end(), [&](const Namespace& ns) {
                    return ns.name == binding.namespace_name;
                }))
                broken("a file is listed under an undeclared namespace", toml,
                       binding.namespace_name);
            if (i > 0 && vok::file_match::path_components_less(binding.path, (*files)[i - 1].path))
                broken("files are not listed in path order", toml, binding.path);
        }
    }
    return 0;
}
