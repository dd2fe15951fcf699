// The projection from a graph: golden files, namespace filter, attributes, services, streaming
// modes, duplicate names, and names that try to leave their comments.
//
// VOK_UPDATE_GOLDEN=1 rewrites the expected files in tests/golden/proto (review the diff before
// committing; supply_all_flags.proto is the reference text and must not change).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "parser/lowering.h"
#include "parser/parse_source.h"
#include "projection/protobuf_projection.h"
#include "units/unit_registry.h"
#include "json/text_deserializer.h"

namespace vok::projection {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

json::Value json_of(const char* text) {
    auto value = json::parse(text);
    EXPECT_TRUE(value.ok()) << text;
    return std::move(value).value();
}

Uuid add_entity(Graph& graph, const char* name, const char* namespace_name = "default") {
    Entity entity = Entity::make(name, namespace_name);
    const Uuid id = entity.id;
    EXPECT_TRUE(graph.add_entity(std::move(entity)).ok());
    return id;
}

Uuid add_resource(Graph& graph, const char* name, const char* unit,
                  const char* namespace_name = "default") {
    Resource resource = Resource::make(name, unit_for_symbol(unit), namespace_name);
    const Uuid id = resource.id;
    EXPECT_TRUE(graph.add_resource(std::move(resource)).ok());
    return id;
}

void add_flow(Graph& graph, Uuid resource, Uuid from, Uuid to, const char* namespace_name,
              std::optional<const char*> streaming = std::nullopt) {
    Flow flow = Flow::make(resource, from, to, Decimal::from_i64(1));
    flow.namespace_ = namespace_name;
    if (streaming) flow.set_attribute("streaming", json_of(*streaming));
    EXPECT_TRUE(graph.add_flow(std::move(flow)).ok());
}

// Warehouse and Factory in "default", Steel in kg, one flow of Steel from Factory to Warehouse.
Graph supply_graph() {
    Graph graph;
    const Uuid warehouse = add_entity(graph, "Warehouse");
    const Uuid factory = add_entity(graph, "Factory");
    const Uuid steel = add_resource(graph, "Steel", "kg");
    add_flow(graph, steel, factory, warehouse, "default");
    return graph;
}

// Two namespaces, attributes of every JSON kind, every streaming mode. Flows of a namespace only
// carry resources of that namespace, so every filtered file compiles.
Graph catalog_graph() {
    Graph graph;
    Entity customer = Entity::make("Customer", "sales");
    customer.set_attribute("weight", json_of("2.5"));
    customer.set_attribute("tags", json_of(R"(["a", "b"])"));
    customer.set_attribute("Active", json_of("true"));
    customer.set_attribute("code", json_of("7"));
    customer.set_attribute("delta", json_of("-3"));
    customer.set_attribute("big", json_of("18446744073709551615"));
    customer.set_attribute("note", json_of("null"));
    customer.set_attribute("meta", json_of(R"({"k": [1]})"));
    customer.set_attribute("label", json_of(R"("x")"));
    const Uuid customer_id = customer.id;
    EXPECT_TRUE(graph.add_entity(std::move(customer)).ok());
    Entity item = Entity::make("order item", "sales");
    item.set_attribute("unitPrice", json_of("1.5"));
    item.set_attribute("OrderID", json_of(R"("A1")"));
    EXPECT_TRUE(graph.add_entity(std::move(item)).ok());
    const Uuid warehouse = add_entity(graph, "Warehouse");
    const Uuid supplier = add_entity(graph, "Supplier");

    Resource widget = Resource::make("Widget", unit_for_symbol("units"), "sales");
    widget.set_attribute("fragile", json_of("false"));
    widget.set_attribute("sku", json_of(R"("W-1")"));
    const Uuid widget_id = widget.id;
    EXPECT_TRUE(graph.add_resource(std::move(widget)).ok());
    const Uuid cash = add_resource(graph, "Cash", "USD", "sales");
    const Uuid steel = add_resource(graph, "Steel", "kg");

    add_flow(graph, widget_id, supplier, customer_id, "sales", R"("Server_Streaming")");
    add_flow(graph, cash, customer_id, supplier, "sales", R"("client_streaming")");
    add_flow(graph, widget_id, customer_id, supplier, "sales", R"("BIDI")");
    add_flow(graph, cash, supplier, customer_id, "sales", R"("server-streaming")");
    add_flow(graph, steel, supplier, warehouse, "default", "true");
    add_flow(graph, steel, warehouse, supplier, "default");
    return graph;
}

Graph warehouse_example_graph() {
    const std::string source = slurp(fs::path(VOK_SOURCE_DIR) / "examples/warehouse.vok");
    auto graph = parse_to_graph(source);
    EXPECT_TRUE(graph.ok());
    return std::move(graph).value();
}

class SourceDateEpoch {
public:
    explicit SourceDateEpoch(const char* value) {
        if (value != nullptr) {
            setenv("SOURCE_DATE_EPOCH", value, 1);
        } else {
            unsetenv("SOURCE_DATE_EPOCH");
        }
    }
    ~SourceDateEpoch() { unsetenv("SOURCE_DATE_EPOCH"); }
};

struct GoldenCase {
    const char* file;
    Graph (*graph)();
    const char* package;
    const char* namespace_filter;
    const char* projection_name;
    bool governance;
    bool services;
    const char* epoch;
};

const GoldenCase kGoldenCases[] = {
    {"supply_all_flags", supply_graph, "supply.core", "default", "inventory", true, true,
     "1700000000"},
    {"supply_plain", supply_graph, "supply.core", "", "", false, false, nullptr},
    {"supply_governance", supply_graph, "supply.core", "", "", true, false, "bogus"},
    {"catalog", catalog_graph, "catalog.v1", "", "catalog", true, true, "0"},
    {"catalog_sales", catalog_graph, "catalog.sales", "sales", "catalog", false, true, "0"},
    {"warehouse", warehouse_example_graph, "logistics", "", "warehouse", true, true, "1700000000"},
};

TEST(ProtobufProjection, GoldenFiles) {
    const bool update = std::getenv("VOK_UPDATE_GOLDEN") != nullptr;
    const fs::path dir = fs::path(VOK_SOURCE_DIR) / "tests/golden/proto";
    for (const GoldenCase& c : kGoldenCases) {
        SCOPED_TRACE(c.file);
        SourceDateEpoch epoch(c.epoch);
        const std::string text = project_graph_to_proto(
            c.graph(), c.package, c.namespace_filter, c.projection_name, c.governance, c.services);
        const fs::path expected = dir / (std::string(c.file) + ".proto");
        if (update) {
            std::ofstream(expected, std::ios::binary) << text;
        } else {
            EXPECT_EQ(text, slurp(expected));
        }
    }
}

std::vector<std::string> message_names(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("message ")) names.push_back(line.substr(8, line.size() - 10));
    }
    return names;
}

TEST(ProtobufProjection, MessageOrderForEachFlagCombination) {
    SourceDateEpoch epoch(nullptr);
    const Graph graph = supply_graph();
    using Names = std::vector<std::string>;
    EXPECT_EQ(message_names(project_graph_to_proto(graph, "p", "", "", false, false)),
              (Names{"Factory", "Steel", "Warehouse"}));
    EXPECT_EQ(message_names(project_graph_to_proto(graph, "p", "", "", true, false)),
              (Names{"Factory", "Steel", "Warehouse", "PolicyViolation", "MetricEvent"}));
    EXPECT_EQ(message_names(project_graph_to_proto(graph, "p", "", "", false, true)),
              (Names{"Factory", "Steel", "SteelResponse", "Warehouse"}));
}

TEST(ProtobufProjection, NamespaceFilterIsByteExact) {
    SourceDateEpoch epoch(nullptr);
    const Graph graph = supply_graph();
    EXPECT_EQ(message_names(project_graph_to_proto(graph, "p", "default", "", false, true)).size(),
              4u);
    const std::string none = project_graph_to_proto(graph, "p", "Default", "", false, true);
    EXPECT_TRUE(message_names(none).empty());
    EXPECT_TRUE(none.ends_with("package p;\n")) << none;
    EXPECT_NE(none.find("// Source Namespace: Default\n"), std::string::npos);
}

TEST(ProtobufProjection, EmptyHeaderValuesWithoutStamp) {
    SourceDateEpoch epoch(nullptr);
    EXPECT_EQ(project_graph_to_proto(Graph(), "p", "", "", false, false),
              "// Generated by VOK Projection Framework\n"
              "// Projection: \n"
              "// Source Namespace: \n"
              "// Generated At: \n"
              "// DO NOT EDIT - This file is auto-generated\n"
              "\n"
              "syntax = \"proto3\";\n"
              "\n"
              "package p;\n");
}

TEST(ProtobufProjection, AttributeFieldsInKeyByteOrder) {
    SourceDateEpoch epoch(nullptr);
    Graph graph;
    Entity entity = Entity::make("E", "default");
    entity.set_attribute("weight", json_of("2.5"));
    entity.set_attribute("tags", json_of(R"(["a", "b"])"));
    entity.set_attribute("Active", json_of("true"));
    entity.set_attribute("code", json_of("7"));
    ASSERT_TRUE(graph.add_entity(std::move(entity)).ok());
    EXPECT_NE(project_graph_to_proto(graph, "p", "", "", false, false)
                  .find("  string name = 2; // Entity name\n"
                        "  optional bool active = 3;\n"
                        "  optional int64 code = 4;\n"
                        "  repeated string tags = 5;\n"
                        "  optional double weight = 6;\n"
                        "}\n"),
              std::string::npos);
}

// Keys whose field names protoc refuses, or that repeat a fixed field, are written as they come.
TEST(ProtobufProjection, FieldNamesAreNeitherCheckedNorMerged) {
    SourceDateEpoch epoch(nullptr);
    Graph graph;
    Entity entity = Entity::make("E", "default");
    for (const char* key : {"!!!", "3d", "Name", "name", "é"})
        entity.set_attribute(key, json_of("1"));
    ASSERT_TRUE(graph.add_entity(std::move(entity)).ok());
    EXPECT_NE(project_graph_to_proto(graph, "p", "", "", false, false)
                  .find("  optional int64  = 3;\n"
                        "  optional int64 3d = 4;\n"
                        "  optional int64 name = 5;\n"
                        "  optional int64 name = 6;\n"
                        "  optional int64 é = 7;\n"),
              std::string::npos);
}

TEST(ProtobufProjection, ScalarForEachJsonKind) {
    const std::pair<const char*, ProtoScalar> cases[] = {
        {"null", ProtoScalar::String}, {"false", ProtoScalar::Bool},
        {"-1", ProtoScalar::Int64},    {"18446744073709551615", ProtoScalar::Int64},
        {"1.0", ProtoScalar::Double},  {"\"s\"", ProtoScalar::String},
        {"[1]", ProtoScalar::String},  {"{}", ProtoScalar::String},
    };
    for (const auto& [text, scalar] : cases)
        EXPECT_EQ(proto_scalar_for(json_of(text)), scalar) << text;
}

TEST(ProtobufProjection, StreamingModeFromTheFlowAttribute) {
    const std::pair<std::optional<const char*>, StreamingMode> cases[] = {
        {R"("Server_Streaming")", StreamingMode::ServerStreaming},
        {R"("streaming")", StreamingMode::ServerStreaming},
        {R"("SERVERSTREAMING")", StreamingMode::ServerStreaming},
        {R"("Client_Streaming")", StreamingMode::ClientStreaming},
        {R"("clientstreaming")", StreamingMode::ClientStreaming},
        {R"("Bidirectional")", StreamingMode::Bidirectional},
        {R"("bidi")", StreamingMode::Bidirectional},
        {R"("Duplex")", StreamingMode::Bidirectional},
        {R"("server-streaming")", StreamingMode::Unary},
        {R"(" bidi")", StreamingMode::Unary},
        {R"("unary")", StreamingMode::Unary},
        {"true", StreamingMode::Unary},
        {"1", StreamingMode::Unary},
        {R"(["bidi"])", StreamingMode::Unary},
        {std::nullopt, StreamingMode::Unary},
    };
    for (const auto& [value, mode] : cases) {
        Flow flow = Flow::make(Uuid(), Uuid(), Uuid(), Decimal::from_i64(1));
        if (value) flow.set_attribute("streaming", json_of(*value));
        EXPECT_EQ(streaming_mode_of(flow), mode) << value.value_or("(absent)");
    }
}

TEST(ProtobufProjection, TargetsOfOneTypeNameShareAServiceNamedByTheFirst) {
    SourceDateEpoch epoch(nullptr);
    Graph graph;
    const Uuid lower = add_entity(graph, "warehouse");
    const Uuid upper = add_entity(graph, "Warehouse");
    const Uuid source = add_entity(graph, "Factory");
    const Uuid steel = add_resource(graph, "Steel", "kg");
    const Uuid cash = add_resource(graph, "Cash", "USD");
    add_flow(graph, steel, source, lower, "default");
    add_flow(graph, cash, source, upper, "default");
    add_flow(graph, cash, source, upper, "default");
    const std::string text = project_graph_to_proto(graph, "p", "", "", false, true);
    EXPECT_TRUE(text.ends_with("// gRPC service for warehouse\n"
                               "service WarehouseService {\n"
                               "  rpc ProcessSteel(Steel) returns (SteelResponse);\n"
                               "  rpc ProcessCash(Cash) returns (CashResponse);\n"
                               "  rpc ProcessCash(Cash) returns (CashResponse);\n"
                               "}\n"))
        << text;
    // Duplicate names are let through: two Warehouse messages, one CashResponse.
    EXPECT_EQ(message_names(text),
              (std::vector<std::string>{"Cash", "CashResponse", "Factory", "Steel", "SteelResponse",
                                        "Warehouse", "Warehouse"}));
}

TEST(ProtobufProjection, ServicesUseEndsOutsideTheNamespaceAndComeInNameOrder) {
    SourceDateEpoch epoch(nullptr);
    Graph graph;
    const Uuid zeta = add_entity(graph, "Zeta", "other");
    const Uuid alpha = add_entity(graph, "Alpha", "other");
    const Uuid steel = add_resource(graph, "Steel", "kg", "other");
    add_flow(graph, steel, alpha, zeta, "mine");
    add_flow(graph, steel, zeta, alpha, "mine");
    add_flow(graph, steel, zeta, alpha, "elsewhere");
    const std::string text = project_graph_to_proto(graph, "p", "mine", "", false, true);
    EXPECT_EQ(message_names(text), (std::vector<std::string>{"SteelResponse"}));
    const size_t alpha_at = text.find("service AlphaService {\n"
                                      "  rpc ProcessSteel(Steel) returns (SteelResponse);\n}\n");
    const size_t zeta_at = text.find("service ZetaService {\n");
    EXPECT_NE(alpha_at, std::string::npos) << text;
    EXPECT_LT(alpha_at, zeta_at);
}

TEST(ProtobufProjection, ResourceNamedLikeAResponseGivesTwoMessages) {
    SourceDateEpoch epoch(nullptr);
    Graph graph;
    const Uuid a = add_entity(graph, "A");
    const Uuid steel = add_resource(graph, "Steel", "kg");
    add_resource(graph, "SteelResponse", "kg");
    add_flow(graph, steel, a, a, "default");
    EXPECT_EQ(message_names(project_graph_to_proto(graph, "p", "", "", false, true)),
              (std::vector<std::string>{"A", "Steel", "SteelResponse", "SteelResponse"}));
}

// Names with line breaks stay inside their comments: every line of the text is still one of
// the lines the projection writes.
TEST(ProtobufProjection, NamesCannotLeaveTheirComments) {
    SourceDateEpoch epoch(nullptr);
    Graph graph;
    const Uuid target = add_entity(graph, "T\nmessage Evil {}\n", "ns\r\nmessage Evil2 {}");
    Resource resource =
        Resource::make("R\u2028service X {}",
                       Unit("kg\nenum E {}", "x", DimensionKind::Mass, Decimal::from_i64(1), "kg"),
                       "ns\r\nmessage Evil2 {}");
    const Uuid resource_id = resource.id;
    ASSERT_TRUE(graph.add_resource(std::move(resource)).ok());
    add_flow(graph, resource_id, target, target, "ns\r\nmessage Evil2 {}");
    const std::string text = project_graph_to_proto(graph, "p", "ns\r\nmessage Evil2 {}",
                                                    "x\u0085message Evil3 {}", true, true);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(message_names(text),
              (std::vector<std::string>{"MetricEvent", "PolicyViolation", "RServiceX",
                                        "RServiceXResponse", "TMessageEvil"}));
    EXPECT_NE(text.find("// VOK Entity: T message Evil {} \n"), std::string::npos) << text;
    EXPECT_NE(text.find("// Unit: kg enum E {}\n"), std::string::npos) << text;
    EXPECT_NE(text.find("// gRPC service for T message Evil {} \n"), std::string::npos);
    EXPECT_NE(text.find("// Projection: x message Evil3 {}\n"), std::string::npos);
}

TEST(ProtobufProjection, SameInputsGiveTheSameText) {
    SourceDateEpoch epoch(nullptr);
    const Graph graph = catalog_graph();
    EXPECT_EQ(project_graph_to_proto(graph, "p", "", "x", true, true),
              project_graph_to_proto(graph, "p", "", "x", true, true));
}

} // namespace
} // namespace vok::projection
