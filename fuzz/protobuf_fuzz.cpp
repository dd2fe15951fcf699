// Fuzzes the protobuf projection: the input's bytes choose a graph (entities and resources with
// names and attribute keys that convert badly, attribute values of every JSON kind, namespaces,
// flows with streaming modes) and the projection's arguments, and the `.proto` text must be well
// formed whatever the graph holds:
// - outside comments and string literals, braces balance and string literals close on their
//   line, so no name or comment text can leak into the syntax;
// - within each message, field numbers are unique and valid (1 to 2^29 - 1, outside the range
//   19000 to 19999 that protobuf reserves);
// - message and service names are identifiers;
// - the same graph and arguments give the same text.
// Field names may legitimately be empty or non-ASCII (the projection keeps them rather than
// renaming), and the package is written as given, so the generator gives packages without line
// breaks.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz_choices.h"
#include "graph/graph.h"
#include "projection/protobuf_projection.h"
#include "units/unit_registry.h"

namespace {

using namespace vok;
using fuzzing::broken;
using fuzzing::Choices;

class Generator {
public:
    explicit Generator(Choices& c) : c_(c) {}

    std::string name() {
        return c_.word({"Warehouse", "order item", "message", "3d-model", "Order_Item", "",
                        "caf\xc3\xa9", "a\nb", "}", "string", "x//y", "\"quoted\"", "Service",
                        "Steel", "steel", "__", "\xe2\x80\xa8", "A{B"});
    }

    std::string key() {
        return c_.word({"unitPrice", "Unit Price", "", "9x", "caf\xc3\xa9", "a}b", "a\nb", "//",
                        "\"q", "streaming", "OrderID", "id", "name", "quantity", "x\ry", "{"});
    }

    json::Value value() {
        switch (c_.pick(7)) {
        case 0:
            return json::Value(c_.chance(50));
        case 1:
            return json::Value::from_i64(-5);
        case 2:
            return json::Value::from_f64(2.5);
        case 3:
            return json::Value();
        case 4:
            return json::Value(json::Array{json::Value::from_u64(1)});
        case 5:
            return json::Value(json::Object{});
        default:
            return json::Value(
                c_.word({"server_streaming", "BIDI", "client_streaming", "unary", "a\nb"}));
        }
    }

    json::Object attributes() {
        json::Object out;
        for (size_t i = 0, n = c_.pick(5); i < n; ++i)
            out.insert_or_assign(key(), value());
        return out;
    }

    std::string namespace_name() { return c_.word({"default", "other", ""}); }

    Graph graph() {
        Graph g;
        std::vector<Uuid> entities, resources;
        for (size_t i = 0, n = c_.pick(5); i < n; ++i) {
            Entity e = Entity::make(name(), namespace_name());
            e.attributes = attributes();
            if (g.add_entity(e).ok()) entities.push_back(e.id);
        }
        for (size_t i = 0, n = c_.pick(3); i < n; ++i) {
            Resource r = Resource::make(name(), unit_for_symbol(c_.word({"kg", "USD", "units"})),
                                        namespace_name());
            r.attributes = attributes();
            if (g.add_resource(r).ok()) resources.push_back(r.id);
        }
        if (!entities.empty() && !resources.empty()) {
            for (size_t i = 0, n = c_.pick(5); i < n; ++i) {
                Flow f = Flow::make(resources[c_.pick(resources.size())],
                                    entities[c_.pick(entities.size())],
                                    entities[c_.pick(entities.size())], Decimal::from_u64(1));
                f.namespace_ = namespace_name();
                if (c_.chance(50)) f.attributes.insert_or_assign("streaming", value());
                (void)g.add_flow(std::move(f));
            }
        }
        return g;
    }

private:
    Choices& c_;
};

bool is_identifier(const std::string& s) {
    if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
    for (char ch : s)
        if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
              ch == '_'))
            return false;
    return true;
}

// Splits a statement's text into words at white space and punctuation.
std::vector<std::string> words(const std::string& statement) {
    std::vector<std::string> out;
    std::string word;
    for (char ch : statement) {
        if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '(' || ch == ')' ||
            ch == '=' || ch == ',') {
            if (!word.empty()) out.push_back(word);
            word.clear();
            if (ch == '=') out.push_back("=");
        } else {
            word += ch;
        }
    }
    if (!word.empty()) out.push_back(word);
    return out;
}

void check_well_formed(const std::string& text) {
    struct Block {
        std::string kind;
        std::set<uint64_t> numbers;
    };
    std::vector<Block> blocks;
    std::string statement;
    for (size_t at = 0; at < text.size(); ++at) {
        const char ch = text[at];
        if (ch == '/' && at + 1 < text.size() && text[at + 1] == '/') {
            at = text.find('\n', at);
            if (at == std::string::npos) break;
            statement += ' ';
            continue;
        }
        if (ch == '"' || ch == '\'') {
            size_t end = at + 1;
            while (end < text.size() && text[end] != ch && text[end] != '\n')
                end += text[end] == '\\' ? 2 : 1;
            if (end >= text.size() || text[end] != ch)
                broken("a string literal does not close on its line", text.substr(at, 80), text);
            statement += " \"\" ";
            at = end;
            continue;
        }
        if (ch == '{') {
            const auto head = words(statement);
            Block block;
            if (!head.empty()) block.kind = head.front();
            if ((block.kind == "message" || block.kind == "service" || block.kind == "enum") &&
                (head.size() != 2 || !is_identifier(head[1])))
                broken("a type name is not an identifier", statement, text);
            blocks.push_back(std::move(block));
            statement.clear();
            continue;
        }
        if (ch == '}') {
            if (blocks.empty()) broken("a closing brace without an opening one", text);
            blocks.pop_back();
            statement.clear();
            continue;
        }
        if (ch == ';') {
            const auto parts = words(statement);
            statement.clear();
            if (blocks.empty() || blocks.back().kind != "message") continue;
            if (parts.size() < 2 || parts[parts.size() - 2] != "=")
                broken("a message statement that is not a field", text);
            const std::string& number = parts.back();
            if (number.empty() || number.size() > 12 ||
                number.find_first_not_of("0123456789") != std::string::npos)
                broken("a field number that is not a number: " + number, text);
            const uint64_t n = std::stoull(number);
            if (n < 1 || n > (uint64_t{1} << 29) - 1 || (n >= 19000 && n <= 19999))
                broken("an invalid field number: " + number, text);
            if (!blocks.back().numbers.insert(n).second)
                broken("a field number used twice in one message: " + number, text);
            continue;
        }
        statement += ch;
    }
    if (!blocks.empty()) broken("an opening brace is never closed", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Choices c(data, size);
    Generator gen(c);
    const Graph graph = gen.graph();
    const std::string package = c.word({"com.example.v1", "", "a b", "caf\xc3\xa9", "x"});
    const std::string filter = c.word({"", "default", "other"});
    const std::string projection = c.word({"Api", "", "two\nlines", "\xe2\x80\xa9", "a\r\nb"});
    const bool governance = c.chance(50);
    const bool services = c.chance(60);
    const std::string text = projection::project_graph_to_proto(graph, package, filter, projection,
                                                                governance, services);
    check_well_formed(text);
    if (projection::project_graph_to_proto(graph, package, filter, projection, governance,
                                           services) != text)
        broken("the same graph projects to two texts", text);
    return 0;
}
