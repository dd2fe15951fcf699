// The texts of the Python boundary.
//
// Every message that the binding layer itself writes (argument binding, conversion refusals,
// borrow conflicts, missing constructors, the import guard, the panic exception) is put together
// here and nowhere else, so that a wording lives in exactly one place. The prefixes that wrappers
// put before a core error's text ("Parse error: " and the rest) are collected here too; the
// wrappers only pick one.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace vok::python::messages {

// "Out of memory in Graph.parse": the MemoryError of a call; `operation` names the callable (or
// is empty when nothing names it).
std::string out_of_memory(std::string_view operation);
// "a method of Graph": a call known only by its receiver's class.
std::string method_of(std::string_view class_name);

// "'int' object cannot be converted to 'PyString'": an object of the wrong type where `target`
// was expected. `type_name` is the __qualname__ of the object's type.
std::string downcast(std::string_view type_name, std::string_view target);

// The conversion targets named by downcast texts for the built-in kinds.
inline constexpr std::string_view kStringTarget = "PyString";
inline constexpr std::string_view kBoolTarget = "PyBool";
inline constexpr std::string_view kListTarget = "PyList";

// "argument 'key': " followed by the refusal of one argument's conversion.
std::string argument_error(std::string_view parameter, std::string_view message);

// Argument binding. `display` is the callable's display name ("Entity.__new__", "format_source").
std::string too_many_positional(std::string_view display, std::size_t required, std::size_t total,
                                std::size_t given);
std::string unexpected_keyword(std::string_view display, std::string_view keyword);
std::string multiple_values(std::string_view display, std::string_view keyword);
std::string missing_required(std::string_view display, std::span<const std::string_view> names);

// A numpy boolean scalar type without a truth-value slot; `type_text` is str() of the type.
std::string bool_without_conversion(std::string_view type_text);

std::string no_constructor(std::string_view class_name);

inline constexpr std::string_view kAlreadyBorrowed = "Already borrowed";
inline constexpr std::string_view kAlreadyMutablyBorrowed = "Already mutably borrowed";

inline constexpr std::string_view kNoExceptionSet = "attempted to fetch exception but none was set";

inline constexpr std::string_view kSubinterpreters =
    "vok_dsl: modules of this kind do not yet support subinterpreters, see "
    "https://docs.python.org/3/c-api/init.html#sub-interpreter-support";

std::string class_init_failed(std::string_view class_name);

// The panic exception class and the text of a failure that carries none of its own.
inline constexpr const char* kPanicQualifiedName = "vok_dsl.PanicException";
inline constexpr const char* kPanicDoc =
    "Raised when the system's own code fails an internal check (a bug, not bad input).\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that an\n"
    "ordinary `except Exception` handler does not swallow it and it usually propagates\n"
    "to the top of the program.";
inline constexpr std::string_view kPanicWithoutMessage = "internal check failed without a message";

// Texts of failed lookups of open attributes and fields.
std::string attribute_not_found(std::string_view key);
std::string field_not_found(std::string_view key);

// Prefixes put before the text of a failed UUID argument's parser description.
inline constexpr std::string_view kInvalidUuid = "Invalid UUID: ";
// Constructors of the record classes name the argument that failed.
inline constexpr std::string_view kInvalidResourceIdUuid = "Invalid resource_id UUID: ";
inline constexpr std::string_view kInvalidFromIdUuid = "Invalid from_id UUID: ";
inline constexpr std::string_view kInvalidToIdUuid = "Invalid to_id UUID: ";
inline constexpr std::string_view kInvalidEntityIdUuid = "Invalid entity_id UUID: ";
inline constexpr std::string_view kInvalidSubjectRoleIdUuid = "Invalid subject_role_id UUID: ";
inline constexpr std::string_view kInvalidObjectRoleIdUuid = "Invalid object_role_id UUID: ";
inline constexpr std::string_view kInvalidViaFlowIdUuid = "Invalid via_flow_id UUID: ";

// Prefixes of ValueError messages, put directly before the underlying error's text.
namespace prefix {
inline constexpr std::string_view kParse = "Parse error: ";
inline constexpr std::string_view kSerialization = "Serialization error: ";
inline constexpr std::string_view kInternal = "Internal error: ";
inline constexpr std::string_view kAddEntity = "Add entity error: ";
inline constexpr std::string_view kAddResource = "Add resource error: ";
inline constexpr std::string_view kAddFlow = "Add flow error: ";
inline constexpr std::string_view kAddInstance = "Add instance error: ";
inline constexpr std::string_view kAddRole = "Add role error: ";
inline constexpr std::string_view kAddRelation = "Add relation error: ";
inline constexpr std::string_view kAddAssociation = "Add association error: ";
inline constexpr std::string_view kAddPolicy = "Add policy error: ";
inline constexpr std::string_view kInvalidPolicyJson = "Invalid Policy JSON: ";
inline constexpr std::string_view kPolicyEvaluation = "Policy evaluation error: ";
inline constexpr std::string_view kInvalidJson = "Invalid JSON: ";
inline constexpr std::string_view kImport = "Import error: ";
inline constexpr std::string_view kInvalidTimestamp = "Invalid timestamp: ";
inline constexpr std::string_view kInvalidStartTimestamp = "Invalid start timestamp: ";
inline constexpr std::string_view kInvalidEndTimestamp = "Invalid end timestamp: ";
inline constexpr std::string_view kInvalidDecimal = "Invalid decimal value: ";
inline constexpr std::string_view kPythonToJson = "Cannot convert Python value to JSON: ";
inline constexpr std::string_view kInvalidPackJson = "Invalid pack JSON: ";
inline constexpr std::string_view kInvalidResultJson = "Invalid result JSON: ";
inline constexpr std::string_view kInvalidOptionsJson = "Invalid options JSON: ";
inline constexpr std::string_view kInvalidBuildInputJson = "Invalid build input JSON: ";
inline constexpr std::string_view kPackSerialization = "Pack serialization error: ";
inline constexpr std::string_view kInvalidOldPackJson = "Invalid old pack JSON: ";
inline constexpr std::string_view kInvalidNewPackJson = "Invalid new pack JSON: ";
inline constexpr std::string_view kDiffSerialization = "Diff serialization error: ";
inline constexpr std::string_view kInvalidConfigJson = "Invalid config JSON: ";
inline constexpr std::string_view kAuthority = "Authority error: ";
inline constexpr std::string_view kInvalidRequestJson = "Invalid request JSON: ";
inline constexpr std::string_view kInvalidFactsJson = "Invalid facts JSON: ";
inline constexpr std::string_view kInvalidConfig = "Invalid config: ";
inline constexpr std::string_view kInvalidRequest = "Invalid request: ";
inline constexpr std::string_view kInvalidFacts = "Invalid facts: ";
inline constexpr std::string_view kEnvironment = "Environment error: ";
inline constexpr std::string_view kValidation = "Validation error: ";
inline constexpr std::string_view kEvaluation = "Evaluation error: ";
inline constexpr std::string_view kTraceSerialization = "Trace serialization error: ";
inline constexpr std::string_view kDecisionSerialization = "Decision serialization error: ";
} // namespace prefix

// Fixed ValueError texts of wrappers.
inline constexpr std::string_view kInvalidQuantity = "Invalid quantity value";
inline constexpr std::string_view kInvalidBaseFactor = "Invalid base_factor";
inline constexpr std::string_view kStartAfterEnd = "Start time must be before or equal to end time";
// JSON has no NaN or infinity.
inline constexpr std::string_view kNonFiniteFloat = "Invalid float value (NaN or Infinity)";

// Refusals of the conversion of Python values to generic JSON values (json_conversion.h).
// `type_name` is the __qualname__ of the refused object's type.
std::string unsupported_json_type(std::string_view type_name);
std::string json_key_not_text(std::string_view type_name);
// An item of a mapping's items() that is no 2-tuple: no tuple at all, or a tuple of another size.
std::string json_item_not_pair(std::string_view type_name);
std::string json_item_not_pair_tuple(std::size_t size);
// Stands in for the repr() of an object whose __repr__ failed.
std::string unprintable(std::string_view type_name);
// Appended by CPython to "maximum recursion depth exceeded" when a conversion nests too deeply.
inline constexpr const char* kToJsonRecursion = " while converting a Python value to JSON";
inline constexpr const char* kFromJsonRecursion = " while converting a JSON value to Python";
// The same text for the fixed nesting bound of values handed to the core, which holds whatever the
// interpreter's recursion limit is.
inline constexpr const char* kToJsonTooDeep =
    "maximum recursion depth exceeded while converting a Python value to JSON";

} // namespace vok::python::messages
