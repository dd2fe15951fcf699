// Canonical JSON and the content hashes computed over it.
//
// Packs, definitions and review records are identified by hashes that must be the same on every
// machine whatever the order their items were given in and whatever the key order of the JSON
// that carried them. Canonical JSON text is a value with the keys of every object in ascending
// byte order, written compactly with the writer's minimal escapes; a hash is "sha256:" and the
// lowercase hex SHA-256 of that text.
//
// A generic json::Value already keeps its object keys in byte order, so its compact text is
// canonical as it stands. The pack content hash does not go through a generic value: the pack's
// records are written in canonical key order straight into a streaming SHA-256 (see
// record_layout.h), which gives the same text as the value would.
#pragma once

#include <string>

#include "crypto/sha256.h"
#include "semantic_pack/semantic_pack.h"
#include "json/value.h"

namespace vok::semantic_pack {

// `crypto::sha256_hex` of the canonical text of `value`.
std::string canonical_json_hash(const json::Value& value);

// Puts the pack's collections, and the lists inside their records, into canonical order (every
// sort stable, texts by bytes, offsets as unsigned numbers, alias status by rank). Polls for
// cancellation: a pack whose sorting stops is left part sorted, fit only to be dropped.
void sort_pack_collections(SemanticPack& pack);

// Turns `pack` into the form its content hash covers: `created_at` and `review_manifest_hash`
// empty, no signer, algorithm or signature, signature state unsigned, canonical order.
void make_hashed_form(SemanticPack& pack);

// A copy of `pack` equal to it, its record lists copied a record at a time with cancellation polls
// between them (as `SemanticPack::content_hash` copies).
SemanticPack copy_in_steps(const SemanticPack& pack);

// The content hash of a pack already in its hashed form (`make_hashed_form`).
std::string hashed_form_digest(const SemanticPack& hashed);

// The content hash of a pack the caller no longer needs: the pack is put into its hashed form in
// place instead of being copied first (`SemanticPack::content_hash` copies).
std::string content_hash_of(SemanticPack&& pack);

} // namespace vok::semantic_pack
