// Graph building throughput: adds 100,000 entities and 100,000 flows to one graph from code, then
// looks every entity up by name and by id, and reports the time of each phase.
//
// usage: graph_bench [ENTITIES [FLOWS]]
// Names, ids and records are made before the clock starts; timing covers the adders and lookups.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "graph/graph.h"
#include "units/unit_registry.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const size_t entity_count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const size_t flow_count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100000;
    if (entity_count < 2) {
        std::fprintf(stderr, "need at least two entities\n");
        return 2;
    }

    std::vector<vok::Entity> entities;
    entities.reserve(entity_count);
    for (size_t i = 0; i < entity_count; ++i) {
        entities.push_back(vok::Entity::make("Entity" + std::to_string(i), "bench"));
    }
    std::vector<vok::Resource> resources;
    for (int i = 0; i < 16; ++i) {
        resources.push_back(vok::Resource::make("Resource" + std::to_string(i),
                                                vok::unit_for_symbol("kg"), "bench"));
    }
    std::vector<vok::Flow> flows;
    flows.reserve(flow_count);
    for (size_t i = 0; i < flow_count; ++i) {
        flows.push_back(
            vok::Flow::make(resources[i % resources.size()].id, entities[i % entity_count].id,
                            entities[(i * 7919 + 1) % entity_count].id, vok::Decimal::from_u64(i)));
    }
    std::vector<std::string> names;
    names.reserve(entity_count);
    for (const auto& entity : entities)
        names.push_back(entity.name);
    std::vector<vok::Uuid> ids;
    ids.reserve(entity_count);
    for (const auto& entity : entities)
        ids.push_back(entity.id);

    vok::Graph graph;
    auto start = std::chrono::steady_clock::now();
    for (auto& resource : resources) {
        if (!graph.add_resource(std::move(resource)).ok()) return 1;
    }
    for (auto& entity : entities) {
        if (!graph.add_entity(std::move(entity)).ok()) return 1;
    }
    const double entity_seconds = seconds_since(start);

    start = std::chrono::steady_clock::now();
    for (auto& flow : flows) {
        auto added = graph.add_flow(std::move(flow));
        if (!added.ok()) {
            std::fprintf(stderr, "%s\n", added.error().to_string().c_str());
            return 1;
        }
    }
    const double flow_seconds = seconds_since(start);

    start = std::chrono::steady_clock::now();
    size_t found = 0;
    for (size_t i = 0; i < entity_count; ++i) {
        auto by_name = graph.find_entity_by_name(names[i]);
        if (by_name && graph.get_entity(*by_name) != nullptr && *by_name == ids[i]) ++found;
    }
    const double lookup_seconds = seconds_since(start);
    if (found != entity_count) {
        std::fprintf(stderr, "lookups found %zu of %zu entities\n", found, entity_count);
        return 1;
    }

    std::printf("entities: %zu in %.4f s\n", graph.entities().size(), entity_seconds);
    std::printf("flows:    %zu in %.4f s\n", graph.flows().size(), flow_seconds);
    std::printf("lookups:  %zu by name and id in %.4f s\n", found, lookup_seconds);
    std::printf("total:    %.4f s\n", entity_seconds + flow_seconds + lookup_seconds);
    return 0;
}
