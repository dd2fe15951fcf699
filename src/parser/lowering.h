// Lowering: one syntax tree becomes one new semantic graph.
//
// The lowering checks the file's profile, fixes the namespace of every declaration, checks the
// declared dimensions and units against the process-wide unit registry, and then adds the
// declarations kind by kind, in a fixed order of passes, so that each reference resolves against
// what earlier passes added (flows against entities and resources, relations against roles,
// instances against entities). The first failure ends it and nothing partial is returned. The
// file's units join the process-wide registry as its last step, only when everything else has
// lowered, so a failed or cancelled lowering leaves the registry as it was.
//
// Imports are not read, and an exported declaration lowers exactly as the one it wraps.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "graph/graph.h"
#include "parser/ast.h"
#include "parser/token_readers.h"

namespace vok {

struct LoweringOptions {
    // Used when the file header has no @namespace; "default" when this is absent too.
    std::optional<std::string> default_namespace;
    // Used when the file header has no @profile; "default" when this is absent too.
    std::optional<std::string> default_profile;
    // Accept a profile name that the profile table lacks instead of refusing the file.
    bool accept_any_profile = false;
};

// Builds the graph of `ast`. The tree is read only, except that a header without @profile gets
// the effective profile name written into `ast.metadata.profile`.
ParseResult<Graph> ast_to_graph(Ast& ast, const LoweringOptions& options);

// The same for a tree nobody needs afterwards: its expressions, rules, tags and fields move into
// the graph instead of being copied, and the tree is dropped before this returns.
ParseResult<Graph> ast_to_graph(Ast&& ast, const LoweringOptions& options);

// Source text to graph with the default options: what Graph.parse runs. A large source that
// fails, or is interrupted, hands the memory its parse took back to the system on the way out.
ParseResult<Graph> parse_to_graph(std::string_view source);

// For tests and benchmarks: from now on, the declaration nodes of every file parse_to_graph lowers
// are built on `workers` worker threads (none for 0), whatever the file and the cores; nullopt
// restores the choice by the file and the cores.
void build_ahead_for_testing(std::optional<size_t> workers);

// For tests: `hook` runs whenever parse_to_graph turns from the direct road to the syntax-tree
// road, once the direct road's memory is given back (nullptr: nothing runs).
void on_tree_road_for_testing(void (*hook)());

} // namespace vok
