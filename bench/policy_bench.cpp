// Policy evaluation in C++ alone: ForAll over N flows comparing each quantity with a number.
//
// usage: policy_bench [FLOWS [ROUNDS]]   (defaults 1,000,000 and 5)
// Prints the best of the evaluations in nanoseconds per flow. The Python-side comparison with a
// plain loop over dicts is bench/policy_eval_bench.py.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench_support.h"
#include "policy/policy_evaluation.h"
#include "units/unit_registry.h"

int main(int argc, char** argv) {
    using namespace vok;
    const long flows = argc > 1 ? std::atol(argv[1]) : 1000000;
    Graph graph;
    Entity a = Entity::make("A", "default"), b = Entity::make("B", "default");
    Resource steel = Resource::make("Steel", unit_for_symbol("kg"), "default");
    Uuid ia = a.id, ib = b.id, is = steel.id;
    (void)graph.add_entity(std::move(a));
    (void)graph.add_entity(std::move(b));
    (void)graph.add_resource(std::move(steel));
    for (long i = 0; i < flows; ++i)
        (void)graph.add_flow(Flow::make(is, ia, ib, Decimal::from_i64(1 + i % 97)));

    Expression condition = Expression::binary(
        BinaryOp::GreaterThan, Expression(expr::MemberAccess{"f", "quantity"}),
        Expression::literal(json::Value::from_u64(0)));
    Policy policy = Policy::make(
        "p", "default", Expression::quantifier(Quantifier::ForAll, "f", Expression::variable("flows"),
                                               std::move(condition)));
    double best = 1e9;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        auto result = evaluate_policy(graph, policy);
        double seconds = bench::seconds_since(start);
        if (!result.ok() || !result->is_satisfied) {
            std::fprintf(stderr, "unexpected outcome\n");
            return 1;
        }
        best = std::min(best, seconds);
    }
    std::printf("forall over %ld flows: best %.4f s (%.1f ns/flow)\n", flows, best,
                best / double(flows) * 1e9);
    return 0;
}
