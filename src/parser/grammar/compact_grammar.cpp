// The compact-tree parser of whole source files; see compact_grammar.h.
//
// Each function below is one rule (or one collapsed expression level) and keeps the engine's
// contract: it is called where the implicit skip has already run, leaves its pairs and the
// position after its match on success, and on failure leaves both as it found them. The rule
// bodies follow the grammar's alternatives in their order; where several alternatives cannot
// match at the current byte they are not tried (a keyword choice dispatches on its first
// letter), which changes nothing but the time taken.
#include "parser/grammar/compact_grammar.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/ascii.h"
#include "common/available_cores.h"
#include "common/built_ahead.h"
#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "parser/grammar/dsl_parser.h"
#include "parser/grammar/lexical_scan.h"
#include "parser/grammar/rule.h"

namespace vok::grammar {

namespace {

using peg::PairRecord;
using peg::RecordBuffer;
using scan::is_digit;
using scan::is_whitespace_byte;
using scan::scan_declaration_keyword;
using scan::scan_identifier;
using scan::scan_in_keyword;
using scan::scan_instance_reference;
using scan::scan_multiline_string;
using scan::scan_number;
using scan::scan_string_literal;
using scan::scan_time_literal;
using scan::scan_version;

// Rule levels are counted conservatively (an expression adds more levels here than the rule
// engine opens for it); within this margin of the engine's limit the text is left to the engine.
constexpr size_t kLevelMargin = 64;
constexpr size_t kExpressionLevels = 14; // expression .. primary_expr and a primary form's parts
constexpr size_t kDeclarationLevels = 16;
// Work allowed before backtracking is deemed pathological: steps per input byte, plus a floor.
constexpr size_t kStepsPerByte = 8;
constexpr size_t kStepFloor = 1 << 16;
constexpr size_t kPollInterval = 4096; // a power of two, as in the rule engine
// Texts this large are read in parts side by side (when the sink takes parts); smaller ones would
// spend more on starting threads than they save.
constexpr size_t kFewestBytesInParts = size_t{1} << 19;
constexpr size_t kMostParts = 4; // the calling thread's and three more
// Set by tests and fuzzers (read_in_parts_for_testing); 0 leaves the choice to size and cores.
std::atomic<size_t> forced_parts{0};

class CompactParser {
public:
    CompactParser(std::string_view text, DeclarationSink* sink)
        : begin_(text.data()), end_(text.data() + text.size()), p_(begin_), sink_(sink),
          records_(sink != nullptr ? 0 : reserved_records(text.size())),
          budget_(text.size() * kStepsPerByte + kStepFloor) {}

    // A reader of the declarations of `text` from `from` (see read_declarations), whose records
    // go to `sink`; its work is bounded by the length of what it reads.
    CompactParser(std::string_view text, DeclarationSink* sink, const char* from, const char* until)
        : begin_(text.data()), end_(text.data() + text.size()), p_(from), sink_(sink),
          budget_(static_cast<size_t>(until - from) * kStepsPerByte + kStepFloor) {}

    // About one compact pair per five bytes of a model, one per three of a file of one-line
    // declarations. Reserving for the denser case avoids copying the records as they grow: large
    // records live in mapped blocks, where untouched reserve costs address space, not memory.
    // Very large inputs reserve less, so that the reserve stays well within what the system lends.
    static size_t reserved_records(size_t bytes) {
        return bytes / (bytes > (size_t{1} << 28) ? 4 : 2) + 64;
    }

    std::optional<RecordBuffer<PairRecord>> run() {
        read_parts_ahead();
        const bool matched = program();
        if (!matched || gave_up_) return std::nullopt;
        if (sink_ != nullptr) sink_->complete = true;
        return std::move(records_);
    }

private:
    struct Mark {
        const char* p;
        size_t records;
    };

    // ---- position, records and work ----

    Mark mark() const { return {p_, records_.size()}; }
    bool reset(Mark m) {
        p_ = m.p;
        records_.truncate(m.records);
        return false;
    }
    uint32_t offset(const char* p) const { return static_cast<uint32_t>(p - begin_); }

    size_t open(Rule r) {
        const size_t index = records_.size();
        records_.push_back(PairRecord{offset(p_), 0, 0, static_cast<uint16_t>(r)});
        return index;
    }
    bool close(size_t index) {
        PairRecord& record = records_[index];
        record.end = offset(p_);
        record.next = static_cast<uint32_t>(records_.size());
        return true;
    }
    // A pair with no children from the position to `to`.
    bool leaf(Rule r, const char* to) {
        const auto next = static_cast<uint32_t>(records_.size() + 1);
        records_.push_back(PairRecord{offset(p_), offset(to), next, static_cast<uint16_t>(r)});
        p_ = to;
        return true;
    }
    template <const char* (*Scanner)(const char*, const char*)> bool scanned(Rule r) {
        const char* to = Scanner(p_, end_);
        return to != nullptr && leaf(r, to);
    }
    // A string (opened by `Quotes` quotes) whose end lies as far as its closing quote, or the end
    // of the text when there is none: backtracking may try one start many times, and scanning far
    // each time would be quadratic. A string that does not end within a short window is scanned
    // once per start and remembered. (A scanner stops at the first closing quote, so one that ends
    // within the window ends where a scan of the whole text would.)
    template <const char* (*Scanner)(const char*, const char*), size_t Quotes>
    bool scanned_string(Rule r) {
        if (end_ - p_ <= static_cast<ptrdiff_t>(kShortScan)) return scanned<Scanner>(r);
        const char* to = Scanner(p_, p_ + kShortScan);
        if (to == nullptr &&
            std::string_view(p_, Quotes).find_first_not_of('"') == std::string_view::npos) {
            const uint64_t key = uint64_t{offset(p_)} << 16 | static_cast<uint16_t>(r);
            auto [found, inserted] = long_scans_.try_emplace(key, kNoEnd);
            if (inserted) {
                const char* far = Scanner(p_, end_);
                if (far != nullptr) found->second = offset(far);
            }
            to = found->second == kNoEnd ? nullptr : begin_ + found->second;
        }
        return to != nullptr && leaf(r, to);
    }

    // The pair of an operator level, put in front of its first operand (the records from `first`
    // on, which start at `start`) once a second operand has matched. Later operands append.
    size_t wrap(size_t first, const char* start, Rule r) {
        const size_t count = records_.size() - first;
        records_.push_back(PairRecord{});
        for (size_t k = records_.size() - 1; k > first; --k) {
            records_[k] = records_[k - 1];
            ++records_[k].next;
        }
        records_[first] = PairRecord{offset(start), 0, 0, static_cast<uint16_t>(r)};
        work(count);
        return first;
    }

    // Counts work; false once the budget is spent (then every rule fails and the run is dropped).
    bool work(size_t steps = 1) {
        const size_t before = steps_;
        steps_ += steps;
        if (before / kPollInterval != steps_ / kPollInterval) [[unlikely]]
            poll_cancellation_now();
        if (steps_ > budget_) [[unlikely]]
            gave_up_ = true;
        return !gave_up_;
    }

    // Enters `levels` rule levels; false (and the run given up) near the engine's limit.
    bool enter(size_t levels) {
        level_ += levels;
        if (level_ + kLevelMargin >= kMaxRuleNesting) [[unlikely]]
            gave_up_ = true;
        return !gave_up_;
    }
    void leave(size_t levels) { level_ -= levels; }

    // Recursion that may go deep continues on a heap stack segment when the stack runs low.
    template <class F> bool nested(F&& f) {
        if ((++nesting_ & 15) == 0) [[unlikely]] {
            const bool matched = with_stack_room([&] { return f(); });
            --nesting_;
            return matched;
        }
        const bool matched = f();
        --nesting_;
        return matched;
    }

    // ---- terminals ----

    void skip() {
        const char* p = p_;
        for (;;) {
            while (p < end_ && is_whitespace_byte(*p))
                ++p;
            if (end_ - p >= 2 && p[0] == '/' && p[1] == '/') {
                const void* line_feed = std::memchr(p + 2, '\n', static_cast<size_t>(end_ - p - 2));
                p = line_feed != nullptr ? static_cast<const char*>(line_feed) : end_;
                continue;
            }
            break;
        }
        p_ = p;
    }
    bool lit(char c) {
        if (p_ >= end_ || *p_ != c) return false;
        ++p_;
        return true;
    }
    bool lit(char a, char b) {
        if (end_ - p_ < 2 || p_[0] != a || p_[1] != b) return false;
        p_ += 2;
        return true;
    }
    // ^"word" with `word` written in lower case.
    bool word(std::string_view w) {
        if (static_cast<size_t>(end_ - p_) < w.size()) return false;
        for (size_t i = 0; i < w.size(); ++i)
            if (ascii_lower(p_[i]) != w[i]) return false;
        p_ += w.size();
        return true;
    }
    char lower_here() const { return p_ < end_ ? ascii_lower(*p_) : '\0'; }

    // ---- combinators: each leaves the position and records as it found them on failure ----

    template <class F> bool rule(Rule r, F&& body) {
        const Mark m = mark();
        const size_t index = open(r);
        if (body()) return close(index);
        return reset(m);
    }
    template <class F> bool attempt(F&& body) {
        const Mark m = mark();
        if (body()) return true;
        return reset(m);
    }
    template <class F> void opt(F&& body) { attempt(body); }
    // e*: the skip before a repetition that fails is given back.
    template <class F> void star(F&& body) {
        if (!body()) return;
        for (;;) {
            const Mark m = mark();
            skip();
            if (!body()) {
                reset(m);
                return;
            }
        }
    }
    // Runs the skip, then `body`: the glue between the elements of a sequence.
    template <class F> bool then(F&& body) {
        skip();
        return body();
    }

    // ---- lexical rules ----

    bool identifier() { return scanned<scan_identifier>(Rule::identifier); }
    bool string_literal() { return scanned_string<scan_string_literal, 1>(Rule::string_literal); }
    bool multiline_string() {
        return scanned_string<scan_multiline_string, 3>(Rule::multiline_string);
    }
    bool number() { return scanned<scan_number>(Rule::number); }
    bool version() { return scanned<scan_version>(Rule::version); }
    bool in_keyword() { return scanned<scan_in_keyword>(Rule::in_keyword); }

    bool name() {
        return rule(Rule::name, [&] { return multiline_string() || string_literal(); });
    }
    bool boolean() {
        return rule(Rule::boolean, [&] { return word("true") || word("false"); });
    }
    bool string_array() {
        return rule(Rule::string_array, [&] {
            if (!lit('[') || !then([&] { return string_literal(); })) return false;
            skip();
            star([&] {
                return attempt([&] { return lit(',') && then([&] { return string_literal(); }); });
            });
            return then([&] { return lit(']'); });
        });
    }
    // ^"v" ~ version
    bool version_clause() {
        return attempt([&] { return word("v") && then([&] { return version(); }); });
    }
    // in_keyword ~ identifier
    bool domain_clause() {
        return attempt([&] { return in_keyword() && then([&] { return identifier(); }); });
    }
    // A normal rule that matches one keyword and leaves a pair without children.
    bool keyword_rule(Rule r, std::string_view w) {
        return rule(r, [&] { return word(w); });
    }

    // ---- file structure ----

    bool program() {
        const size_t index = open(Rule::program);
        skip();
        file_header();
        skip();
        level_ = kDeclarationLevels;
        declarations();
        skip();
        if (p_ != end_) return false;
        leaf(Rule::EOI, p_);
        return close(index);
    }

    void file_header() {
        const size_t index = open(Rule::file_header);
        star([&] { return annotation(); });
        skip();
        star([&] { return import_decl(); });
        close(index);
    }

    bool annotation() {
        return rule(Rule::annotation, [&] {
            return lit('@') && then([&] {
                       return rule(Rule::annotation_name, [&] {
                           return word("namespace") || word("version") || word("owner") ||
                                  word("profile");
                       });
                   }) &&
                   then([&] { return string_literal(); });
        });
    }

    bool import_decl() {
        return rule(Rule::import_decl, [&] {
            return word("import") && then([&] { return import_specifier(); }) &&
                   then([&] { return word("from"); }) && then([&] { return string_literal(); });
        });
    }

    bool import_specifier() {
        return rule(Rule::import_specifier, [&] {
            return rule(Rule::import_named,
                        [&] {
                            if (!lit('{') || !then([&] { return import_item(); })) return false;
                            skip();
                            star([&] {
                                return attempt([&] {
                                    return lit(',') && then([&] { return import_item(); });
                                });
                            });
                            skip();
                            opt([&] { return lit(','); });
                            return then([&] { return lit('}'); });
                        }) ||
                   rule(Rule::import_wildcard, [&] {
                       return lit('*') && then([&] { return word("as"); }) &&
                              then([&] { return identifier(); });
                   });
        });
    }

    bool import_item() {
        return rule(Rule::import_item, [&] {
            if (!identifier()) return false;
            skip();
            opt([&] { return word("as") && then([&] { return identifier(); }); });
            return true;
        });
    }

    // ---- declarations ----

    // declaration*, where the implicit skip has run. The declarations of a part read ahead are
    // taken over, rather than read again, when a declaration starts where the part does: reading
    // from there gives the same declarations whoever reads them.
    void declarations() {
        for (;;) {
            take_parts_read_ahead();
            if (!declaration()) return;
            skip();
        }
    }

    // Declarations from the position, as declarations() reads them, up to `until` (the start of
    // the next part, or the end of the text): where the last stops, if it stops exactly there;
    // nothing otherwise (a declaration fails, runs past `until`, or the work is given up).
    const char* read_declarations(const char* until) {
        level_ = kDeclarationLevels;
        for (;;) {
            if (p_ == until) return gave_up_ ? nullptr : p_;
            if (p_ > until || !declaration()) return nullptr;
            skip();
        }
    }

    bool declaration() {
        if (!work()) return false;
        const size_t start = records_.size();
        const bool matched = rule(Rule::declaration, [&] {
            return rule(Rule::export_decl,
                        [&] {
                            return word("export") && then([&] {
                                       ++level_;
                                       const bool matched = declaration_inner();
                                       --level_;
                                       return matched;
                                   });
                        }) ||
                   declaration_inner();
        });
        if (matched && sink_ != nullptr) {
            // No rule looks back at a declaration once it has matched: it can leave the tree.
            const auto index = static_cast<uint32_t>(inner_declaration_);
            const PairRecord& own = records_[index];
            sink_->take(static_cast<Rule>(own.rule), &own, own.next - index, index);
            records_.truncate(start);
            // After a very large declaration, the room it took is handed back rather than held
            // until the end of the file (unless the header fills much of it).
            if (records_.capacity() * sizeof(PairRecord) >= large_block::kThreshold &&
                start < records_.capacity() / 8) {
                RecordBuffer<PairRecord> kept(start + 64);
                kept.append(records_.data(), start);
                records_ = std::move(kept);
            }
        }
        return matched;
    }

    // The alternatives in grammar order, only those whose keyword can start here.
    bool declaration_inner() {
        // The declaration's own pair comes straight after this rule's.
        inner_declaration_ = records_.size() + 1;
        return rule(Rule::declaration_inner, [&] {
            switch (lower_here()) {
            case 'd':
                return dimension_decl();
            case 'u':
                return unit_decl();
            case 'e':
                return entity_decl();
            case 'r':
                return resource_decl() || role_decl() || relation_decl();
            case 'f':
                return flow_decl();
            case 'p':
                return pattern_decl() || policy_decl() || projection_decl();
            case 'i':
                return instance_decl();
            case 'c':
                return concept_change_decl();
            case 'm':
                return metric_decl() || mapping_decl();
            default:
                return false;
            }
        });
    }

    bool entity_decl() {
        return rule(Rule::entity_decl, [&] {
            if (!word("entity") || !then([&] { return name(); })) return false;
            skip();
            version_clause();
            skip();
            star([&] { return annotation_clause(Rule::entity_annotation); });
            skip();
            domain_clause();
            return true;
        });
    }

    // "@" ~ ((ea_replaces ~ name ~ (^"v" ~ version)?) | (ea_changes ~ string_array)
    //        | (identifier ~ annotation_value), the last for flows only)
    bool annotation_clause(Rule r) {
        return rule(r, [&] {
            if (!lit('@')) return false;
            skip();
            if (attempt([&] {
                    if (!keyword_rule(Rule::ea_replaces, "replaces") ||
                        !then([&] { return name(); }))
                        return false;
                    skip();
                    version_clause();
                    return true;
                }))
                return true;
            if (attempt([&] {
                    return keyword_rule(Rule::ea_changes, "changes") &&
                           then([&] { return string_array(); });
                }))
                return true;
            return r == Rule::flow_annotation && attempt([&] {
                       return identifier() && then([&] { return annotation_value(); });
                   });
        });
    }

    bool resource_decl() {
        return rule(Rule::resource_decl, [&] {
            if (!word("resource") || !then([&] { return name(); })) return false;
            skip();
            star([&] { return annotation_clause(Rule::resource_annotation); });
            skip();
            // unit in domain | in domain | unit (not a declaration keyword)
            if (attempt([&] {
                    return identifier() && then([&] { return in_keyword(); }) &&
                           then([&] { return identifier(); });
                }))
                return true;
            if (domain_clause()) return true;
            if (scan_declaration_keyword(p_, end_) == nullptr) identifier();
            return true;
        });
    }

    bool flow_decl() {
        return rule(Rule::flow_decl, [&] {
            if (!word("flow") || !then([&] { return string_literal(); })) return false;
            skip();
            star([&] { return annotation_clause(Rule::flow_annotation); });
            if (!then([&] { return word("from"); }) || !then([&] { return string_literal(); }) ||
                !then([&] { return word("to"); }) || !then([&] { return string_literal(); }))
                return false;
            skip();
            opt([&] { return word("quantity") && then([&] { return number(); }); });
            return true;
        });
    }

    bool annotation_value() {
        return rule(Rule::annotation_value, [&] {
            return object_literal() || string_array() || string_literal() || boolean() || number();
        });
    }

    bool pattern_decl() {
        return rule(Rule::pattern_decl, [&] {
            return word("pattern") && then([&] { return name(); }) &&
                   then([&] { return word("matches"); }) && then([&] { return string_literal(); });
        });
    }

    bool role_decl() {
        return rule(Rule::role_decl, [&] {
            if (!word("role") || !then([&] { return name(); })) return false;
            skip();
            domain_clause();
            return true;
        });
    }

    // ^"word" ~ ":" ~ string_literal, a clause of a relation.
    bool labelled_string(std::string_view label) {
        return then([&] { return word(label); }) && then([&] { return lit(':'); }) &&
               then([&] { return string_literal(); });
    }

    bool relation_decl() {
        return rule(Rule::relation_decl, [&] {
            if (!word("relation") || !then([&] { return name(); }) || !labelled_string("subject") ||
                !labelled_string("predicate") || !labelled_string("object"))
                return false;
            skip();
            opt([&] {
                return word("via") && then([&] { return lit(':'); }) &&
                       then([&] { return word("flow"); }) && then([&] { return string_literal(); });
            });
            return true;
        });
    }

    bool instance_decl() {
        return rule(Rule::instance_decl, [&] {
            if (!word("instance") || !then([&] { return identifier(); }) ||
                !then([&] { return word("of"); }) || !then([&] { return string_literal(); }))
                return false;
            skip();
            rule(Rule::instance_body, [&] {
                return lit('{') && then([&] {
                           star([&] { return separated([&] { return instance_field(); }); });
                           return then([&] { return lit('}'); });
                       });
            });
            return true;
        });
    }

    // item ~ ","?: an item of a braced list.
    template <class F> bool separated(F&& item) {
        if (!item()) return false;
        const Mark m = mark();
        skip();
        if (!lit(',')) reset(m);
        return true;
    }

    bool instance_field() {
        return rule(Rule::instance_field, [&] {
            return identifier() && then([&] { return lit(':'); }) &&
                   then([&] { return expression(); });
        });
    }

    bool dimension_decl() {
        return rule(Rule::dimension_decl,
                    [&] { return word("dimension") && then([&] { return string_literal(); }); });
    }

    bool unit_decl() {
        return rule(Rule::unit_decl, [&] {
            return word("unit") && then([&] { return string_literal(); }) &&
                   then([&] { return word("of"); }) && then([&] { return string_literal(); }) &&
                   then([&] { return word("factor"); }) && then([&] { return number(); }) &&
                   then([&] { return word("base"); }) && then([&] { return string_literal(); });
        });
    }

    bool policy_decl() {
        return rule(Rule::policy_decl, [&] {
            if (!word("policy") || !then([&] { return identifier(); })) return false;
            skip();
            opt([&] {
                return word("per") && then([&] {
                           return rule(Rule::policy_kind, [&] {
                               return word("constraint") || word("derivation") ||
                                      word("obligation");
                           });
                       }) &&
                       then([&] {
                           return rule(Rule::policy_modality, [&] {
                               return word("obligation") || word("prohibition") ||
                                      word("permission");
                           });
                       }) &&
                       then([&] { return word("priority"); }) && then([&] { return number(); });
            });
            skip();
            star([&] { return policy_annotation(); });
            skip();
            version_clause();
            return then([&] { return word("as"); }) && then([&] { return lit(':'); }) &&
                   then([&] { return expression(); });
        });
    }

    bool policy_annotation() {
        return rule(Rule::policy_annotation, [&] {
            return lit('@') && then([&] {
                       return rule(Rule::policy_annotation_name,
                                   [&] { return word("rationale") || word("tags"); });
                   }) &&
                   then([&] { return string_literal() || string_array(); });
        });
    }

    bool concept_change_decl() {
        return rule(Rule::concept_change_decl, [&] {
            if (!word("conceptchange") || !then([&] { return name(); })) return false;
            skip();
            star([&] { return concept_change_annotation(); });
            return true;
        });
    }

    bool concept_change_annotation() {
        return rule(Rule::concept_change_annotation, [&] {
            if (!lit('@')) return false;
            skip();
            const auto versioned = [&](Rule r, std::string_view w) {
                return attempt([&] {
                    return keyword_rule(r, w) && then([&] { return word("v"); }) &&
                           then([&] { return version(); });
                });
            };
            return versioned(Rule::cc_from_version, "from_version") ||
                   versioned(Rule::cc_to_version, "to_version") || attempt([&] {
                       return keyword_rule(Rule::cc_migration_policy, "migration_policy") &&
                              then([&] { return identifier(); });
                   }) ||
                   attempt([&] {
                       return keyword_rule(Rule::cc_breaking_change, "breaking_change") &&
                              then([&] { return boolean(); });
                   });
        });
    }

    bool metric_decl() {
        return rule(Rule::metric_decl, [&] {
            if (!word("metric") || !then([&] { return name(); }) ||
                !then([&] { return word("as"); }) || !then([&] { return lit(':'); }) ||
                !then([&] { return expression(); }))
                return false;
            skip();
            star([&] { return metric_annotation(); });
            return true;
        });
    }

    bool metric_annotation() {
        return rule(Rule::metric_annotation, [&] {
            if (!lit('@')) return false;
            skip();
            const auto form = [&](Rule r, std::string_view w, bool count, bool text) {
                return attempt([&] {
                    return keyword_rule(r, w) && (!count || then([&] { return number(); })) &&
                           (!text || then([&] { return string_literal(); }));
                });
            };
            return form(Rule::ma_refresh_interval, "refresh_interval", true, true) ||
                   form(Rule::ma_unit, "unit", false, true) ||
                   form(Rule::ma_threshold, "threshold", true, false) ||
                   form(Rule::ma_severity, "severity", false, true) ||
                   form(Rule::ma_target, "target", true, false) ||
                   form(Rule::ma_window, "window", true, true);
        });
    }

    bool target_format() {
        return rule(Rule::target_format, [&] {
            return word("calm") || word("kg") || word("sbvr") || word("protobuf") || word("proto");
        });
    }

    bool primitive_type() {
        return rule(Rule::primitive_type, [&] {
            return word("entity") || word("resource") || word("flow") || word("policy") ||
                   word("instance");
        });
    }

    // ^"keyword" ~ string_literal ~ ^"for" ~ target_format ~ "{" ~ item* ~ "}"
    template <class F> bool braced_declaration(std::string_view keyword, F&& item) {
        if (!word(keyword) || !then([&] { return string_literal(); }) ||
            !then([&] { return word("for"); }) || !then([&] { return target_format(); }) ||
            !then([&] { return lit('{'); }))
            return false;
        skip();
        star(item);
        return then([&] { return lit('}'); });
    }

    bool mapping_decl() {
        return rule(Rule::mapping_decl,
                    [&] { return braced_declaration("mapping", [&] { return mapping_rule(); }); });
    }

    bool mapping_rule() {
        return rule(Rule::mapping_rule, [&] {
            return primitive_type() && then([&] { return string_literal(); }) &&
                   then([&] { return lit('-', '>'); }) && then([&] {
                       return rule(Rule::target_structure, [&] {
                           return identifier() && then([&] { return lit('{'); }) && then([&] {
                                      star([&] {
                                          return separated([&] { return mapping_field(); });
                                      });
                                      return then([&] { return lit('}'); });
                                  });
                       });
                   });
        });
    }

    bool mapping_field() {
        return rule(Rule::mapping_field, [&] {
            return identifier() && then([&] { return lit(':'); }) &&
                   then([&] { return string_literal() || object_literal() || boolean(); });
        });
    }

    bool object_literal() {
        if (p_ >= end_ || *p_ != '{') return false;
        if (!enter(2)) return false;
        const bool matched = nested([&] {
            return rule(Rule::object_literal, [&] {
                return lit('{') && then([&] {
                           star([&] {
                               return separated([&] {
                                   return attempt([&] {
                                       return string_literal() && then([&] { return lit(':'); }) &&
                                              then([&] { return annotation_value(); });
                                   });
                               });
                           });
                           return then([&] { return lit('}'); });
                       });
            });
        });
        leave(2);
        return matched;
    }

    bool projection_decl() {
        return rule(Rule::projection_decl, [&] {
            return braced_declaration("projection", [&] { return projection_rule(); });
        });
    }

    bool projection_rule() {
        return rule(Rule::projection_rule, [&] {
            return primitive_type() && then([&] { return string_literal(); }) &&
                   then([&] { return lit('{'); }) && then([&] {
                       star([&] { return separated([&] { return projection_field(); }); });
                       return then([&] { return lit('}'); });
                   });
        });
    }

    bool projection_field() {
        return rule(Rule::projection_field, [&] {
            return identifier() && then([&] { return lit(':'); }) && then([&] {
                       return string_literal() || rule(Rule::property_mapping, [&] {
                                  return lit('{') && then([&] {
                                             star([&] {
                                                 return separated([&] {
                                                     return attempt([&] {
                                                         return string_literal() && then([&] {
                                                                    return lit('-', '>');
                                                                }) &&
                                                                then([&] {
                                                                    return string_literal();
                                                                });
                                                     });
                                                 });
                                             });
                                             return then([&] { return lit('}'); });
                                         });
                              });
                   });
        });
    }

    // ---- expressions: a level leaves its pair only when it holds an operator ----

    // `expression`, with its pair (declarations and the primary forms look for it).
    bool expression() {
        const Mark m = mark();
        const size_t index = open(Rule::expression);
        if (expression_body()) return close(index);
        return reset(m);
    }

    // What an `expression` holds: its or_expr level, collapsed.
    bool expression_body() {
        if (!work() || !enter(kExpressionLevels)) return false;
        const bool matched = nested([&] { return or_level(); });
        leave(kExpressionLevels);
        return matched;
    }

    // operand ~ (^"word" ~ operand)*
    template <class Operand> bool word_list(Rule r, std::string_view separator, Operand&& operand) {
        const char* start = p_;
        const size_t first = records_.size();
        if (!operand()) return false;
        bool wrapped = false;
        for (;;) {
            const Mark m = mark();
            skip();
            if (!word(separator) || !then(operand)) {
                reset(m);
                break;
            }
            if (!wrapped) wrap(first, start, r);
            wrapped = true;
        }
        if (wrapped) close(first);
        return true;
    }

    bool or_level() {
        return word_list(Rule::or_expr, "or", [&] { return and_level(); });
    }
    bool and_level() {
        return word_list(Rule::and_expr, "and", [&] { return not_level(false); });
    }

    // ^"not" ~ not_expr | comparison_expr. The negated operand of `not` is always a not_expr
    // pair (the builder reads the negation from it), so `marked` keeps that level's pair, with an
    // `expression` pair inside: a negation in parentheses directly under it would otherwise read
    // as a second negation.
    bool not_level(bool marked) {
        if (lower_here() == 'n') {
            const Mark m = mark();
            const size_t index = open(Rule::not_expr);
            if (word("not")) {
                skip();
                if (enter(1)) {
                    const bool matched = nested([&] { return not_level(true); });
                    leave(1);
                    if (matched) return close(index);
                } else {
                    leave(1);
                }
            }
            reset(m);
        }
        if (!marked) return comparison_level();
        return rule(Rule::not_expr,
                    [&] { return rule(Rule::expression, [&] { return comparison_level(); }); });
    }

    bool comparison_level() {
        const char* start = p_;
        const size_t first = records_.size();
        if (!additive_level()) return false;
        const Mark m = mark();
        skip();
        if (comparison_op() && then([&] { return additive_level(); })) {
            close(wrap(first, start, Rule::comparison_expr));
        } else {
            reset(m);
        }
        return true;
    }

    bool comparison_op() {
        const char* from = p_;
        bool matched = false;
        if (lit('>', '=') || lit('<', '=') || lit('!', '=') || lit('=') || lit('>') || lit('<')) {
            matched = true;
        } else {
            switch (lower_here()) {
            case 'c':
                matched = word("contains");
                break;
            case 's':
                matched = word("startswith");
                break;
            case 'e':
                matched = word("endswith");
                break;
            case 'm':
                matched = word("matches");
                break;
            case 'b':
                matched = word("before");
                break;
            case 'a':
                matched = word("after");
                break;
            case 'd':
                matched = word("during");
                break;
            case 'h':
                matched = word("has_role");
                break;
            default:
                break;
            }
        }
        if (!matched) return false;
        const char* to = p_;
        p_ = from;
        return leaf(Rule::comparison_op, to);
    }

    // operand ~ (op ~ operand)* with a one-character operator pair.
    template <class Operand> bool symbol_list(Rule r, Rule op, char a, char b, Operand&& operand) {
        const char* start = p_;
        const size_t first = records_.size();
        if (!operand()) return false;
        bool wrapped = false;
        for (;;) {
            const Mark m = mark();
            skip();
            if (p_ >= end_ || (*p_ != a && *p_ != b)) {
                reset(m);
                break;
            }
            leaf(op, p_ + 1);
            if (!then(operand)) {
                reset(m);
                break;
            }
            if (!wrapped) wrap(first, start, r);
            wrapped = true;
        }
        if (wrapped) close(first);
        return true;
    }

    bool additive_level() {
        return symbol_list(Rule::additive_expr, Rule::add_op, '+', '-',
                           [&] { return multiplicative_level(); });
    }
    bool multiplicative_level() {
        return symbol_list(Rule::multiplicative_expr, Rule::mul_op, '*', '/',
                           [&] { return unary_level(); });
    }

    // "-" ~ unary_expr | cast_expr
    bool unary_level() {
        if (p_ < end_ && *p_ == '-') {
            const Mark m = mark();
            const size_t index = open(Rule::unary_expr);
            ++p_;
            skip();
            if (enter(1)) {
                const bool matched = nested([&] { return unary_level(); });
                leave(1);
                if (matched) return close(index);
            } else {
                leave(1);
            }
            reset(m);
        }
        return cast_level();
    }

    // primary_expr ~ (^"as" ~ string_literal)?
    bool cast_level() {
        const char* start = p_;
        const size_t first = records_.size();
        if (!primary()) return false;
        const Mark m = mark();
        skip();
        if (word("as") && then([&] { return string_literal(); })) {
            close(wrap(first, start, Rule::cast_expr));
        } else {
            reset(m);
        }
        return true;
    }

    bool primary() {
        if (!work() || p_ >= end_) return false;
        const char c = *p_;
        // Only the parenthesised form starts with "(": it leaves no pair of its own (the builder
        // reads `(a)` as `a`).
        if (c == '(') {
            const uint32_t at = offset(p_);
            if (failed_groups_.contains(at)) return false;
            if (attempt([&] {
                    ++p_;
                    skip();
                    return expression_body() && then([&] { return lit(')'); });
                }))
                return true;
            if (!gave_up_) failed_groups_.insert(at);
            return false;
        }
        return rule(Rule::primary_expr, [&] {
            if (c == '"' || c == '-' || is_digit(c)) return literal();
            if (c == '@') return scanned<scan_instance_reference>(Rule::instance_reference);
            return group_by_expr() || member_access() || aggregation_expr() || quantified_expr() ||
                   literal() || identifier();
        });
    }

    bool collection() {
        return rule(Rule::collection, [&] {
            return word("flows") || word("entities") || word("resources") || word("instances") ||
                   word("relations");
        });
    }

    // ^"where" ~ expression
    bool where_clause() {
        return attempt([&] { return word("where") && then([&] { return expression(); }); });
    }

    bool group_by_expr() {
        if (lower_here() != 'g') return false;
        return rule(Rule::group_by_expr, [&] {
            if (!word("group_by") || !then([&] { return lit('('); }) ||
                !then([&] { return identifier(); }) || !then([&] { return word("in"); }) ||
                !then([&] { return collection(); }))
                return false;
            skip();
            where_clause();
            return then([&] { return lit(':'); }) && then([&] { return expression(); }) &&
                   then([&] { return lit(')'); }) && then([&] { return lit('{'); }) &&
                   then([&] { return expression(); }) && then([&] { return lit('}'); });
        });
    }

    bool member_access() {
        return rule(Rule::member_access, [&] {
            return identifier() && then([&] { return lit('.'); }) &&
                   then([&] { return identifier(); });
        });
    }

    bool aggregation_expr() {
        const char c = lower_here();
        if (c != 'c' && c != 's' && c != 'm' && c != 'a') return false;
        return rule(Rule::aggregation_expr, [&] {
            return rule(Rule::aggregate_fn,
                        [&] {
                            return word("count") || word("sum") || word("min") || word("max") ||
                                   word("avg");
                        }) &&
                   then([&] { return lit('('); }) &&
                   then([&] { return aggregation_comprehension() || aggregation_simple(); }) &&
                   then([&] { return lit(')'); });
        });
    }

    bool aggregation_comprehension() {
        return rule(Rule::aggregation_comprehension, [&] {
            if (!identifier() || !then([&] { return word("in"); }) ||
                !then([&] { return collection(); }))
                return false;
            skip();
            rule(Rule::window_clause, [&] {
                return word("over") && then([&] { return word("last"); }) &&
                       then([&] { return number(); }) && then([&] { return string_literal(); });
            });
            skip();
            where_clause();
            return then([&] { return lit(':'); }) && then([&] { return expression(); });
        });
    }

    bool aggregation_simple() {
        return rule(Rule::aggregation_simple, [&] {
            if (!collection() && !identifier()) return false;
            skip();
            opt([&] { return lit('.') && then([&] { return identifier(); }); });
            return true;
        });
    }

    bool quantified_expr() {
        const char c = lower_here();
        if (c != 'e' && c != 'f') return false;
        return rule(Rule::quantified_expr, [&] {
            return rule(
                       Rule::quantifier,
                       [&] { return word("exists_unique") || word("forall") || word("exists"); }) &&
                   then([&] { return identifier(); }) && then([&] { return word("in"); }) &&
                   then([&] { return collection(); }) && then([&] { return lit(':'); }) &&
                   then([&] { return lit('('); }) && then([&] { return expression(); }) &&
                   then([&] { return lit(')'); });
        });
    }

    bool literal() {
        return rule(Rule::literal, [&] {
            return scanned<scan_time_literal>(Rule::time_literal) || multiline_string() ||
                   string_literal() ||
                   rule(Rule::interval_literal,
                        [&] {
                            return word("interval") && then([&] { return lit('('); }) &&
                                   then([&] { return string_literal(); }) &&
                                   then([&] { return lit(','); }) &&
                                   then([&] { return string_literal(); }) &&
                                   then([&] { return lit(')'); });
                        }) ||
                   rule(Rule::quantity_literal,
                        [&] { return number() && then([&] { return string_literal(); }); }) ||
                   number() || boolean();
        });
    }

    // ---- parts read ahead ----

    // A part of the text read on a worker: its declarations, and where they stop (nothing when
    // the part is of no use; the calling thread then reads that stretch itself).
    struct PartRead {
        std::unique_ptr<DeclarationSink> sink;
        const char* end = nullptr;
    };

    // Splits a large text into parts at lines that start with a declaration keyword and starts
    // reading all but the first on workers. A split may fall inside a string or a comment: then
    // no declaration starts there and the part goes unused.
    void read_parts_ahead() {
        const auto size = static_cast<size_t>(end_ - begin_);
        const size_t forced = forced_parts.load(std::memory_order_relaxed);
        if (sink_ == nullptr || (forced == 0 && size < kFewestBytesInParts)) return;
        const size_t parts = forced != 0 ? forced : std::min(cores_for_workers(), kMostParts);
        for (size_t k = 1; k < parts; ++k) {
            const char* start = part_start(begin_ + size / parts * k);
            if (start != nullptr && (part_starts_.empty() || start > part_starts_.back()))
                part_starts_.push_back(start);
        }
        for (size_t k = 0; k < part_starts_.size(); ++k) {
            part_sinks_.push_back(sink_->part());
            if (!part_sinks_.back()) {
                part_starts_.clear();
                return;
            }
        }
        if (part_starts_.empty()) return;
        try {
            parts_.emplace(part_starts_.size(), part_starts_.size(),
                           [this](size_t k) { return read_part(k); });
        } catch (const std::system_error&) {
            // No threads to be had: the calling thread reads everything.
            part_starts_.clear();
        } catch (const std::bad_alloc&) {
            part_starts_.clear(); // nor memory to start them
        }
    }

    // The first line start at or after `from` holding a declaration keyword.
    const char* part_start(const char* from) const {
        for (const char* p = from; p < end_;) {
            const void* line_feed = std::memchr(p, '\n', static_cast<size_t>(end_ - p));
            if (line_feed == nullptr) return nullptr;
            p = static_cast<const char*>(line_feed) + 1;
            if (scan_declaration_keyword(p, end_) != nullptr &&
                !starts_with_ignoring_ascii_case(std::string_view(p, end_), "import"))
                return p;
        }
        return nullptr;
    }

    // Runs on a worker (whose cancellation check says when the reading is abandoned).
    PartRead read_part(size_t k) {
        PartRead read{std::move(part_sinks_[k]), nullptr};
        const char* until = k + 1 < part_starts_.size() ? part_starts_[k + 1] : end_;
        try {
            CompactParser reader(std::string_view(begin_, static_cast<size_t>(end_ - begin_)),
                                 read.sink.get(), part_starts_[k], until);
            read.end = reader.read_declarations(until);
        } catch (...) {
            // Abandoned, or out of memory: the calling thread reads the part itself, if at all.
            read.end = nullptr;
        }
        return read;
    }

    // Takes over each part that starts at the position (then at the end of the part taken) and
    // passes over those that start before it. Parts are waited for in order.
    void take_parts_read_ahead() {
        while (next_part_ < part_starts_.size() && part_starts_[next_part_] <= p_) {
            const size_t k = next_part_++;
            PartRead& read = parts_->at(k);
            if (part_starts_[k] != p_ || read.end == nullptr) continue;
            sink_->join(*read.sink);
            p_ = read.end;
        }
    }

    const char* const begin_;
    const char* const end_;
    const char* p_;
    DeclarationSink* const sink_;
    RecordBuffer<PairRecord> records_;
    size_t inner_declaration_ = 0; // the pair of the declaration declaration_inner last read
    size_t steps_ = 0;
    const size_t budget_;
    size_t level_ = 0;
    size_t nesting_ = 0;
    bool gave_up_ = false;
    // Scans of strings that ran past kShortScan bytes: where each ended, by start and rule.
    static constexpr size_t kShortScan = 256;
    static constexpr uint32_t kNoEnd = std::numeric_limits<uint32_t>::max();
    std::unordered_map<uint64_t, uint32_t> long_scans_;
    // Where a parenthesised expression failed. Whether it matches depends on its position alone
    // (a failure from nesting too deep gives the whole run up), yet `not - (` tries the same
    // group twice, under `not` and as `not` minus it, so a chain of them would try the innermost
    // group once per way of reading the chain; remembered, each group is read at most once.
    std::unordered_set<uint32_t> failed_groups_;
    // Where the parts read ahead start (the first part, the calling thread's, not counted).
    std::vector<const char*> part_starts_;
    std::vector<std::unique_ptr<DeclarationSink>> part_sinks_; // each moved to its part's reader
    size_t next_part_ = 0;                                     // the next part to take or pass
    // Declared last: its workers stop before anything they read goes.
    std::optional<BuiltAhead<PartRead, 1>> parts_;
};

} // namespace

std::optional<peg::RecordBuffer<peg::PairRecord>> parse_program_compact(std::string_view text,
                                                                        DeclarationSink* sink) {
    if (text.size() > peg::kMaxInputBytes) return std::nullopt;
    return CompactParser(text, sink).run();
}

void read_in_parts_for_testing(size_t parts) {
    forced_parts.store(parts, std::memory_order_relaxed);
}

} // namespace vok::grammar
