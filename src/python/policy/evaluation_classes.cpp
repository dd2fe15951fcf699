// Wrappers of Violation and EvaluationResult; see evaluation_classes.h.
#include "python/policy/evaluation_classes.h"

#include <optional>
#include <string>
#include <vector>

#include "python/binding/binding.h"
#include "python/enumerations.h"

namespace vok::python {

namespace {

// ---- Violation ----

PyResult<std::string> violation_name(const Violation& self) {
    return self.name;
}

PyResult<std::string> violation_message(const Violation& self) {
    return self.message;
}

PyResult<Member> violation_severity(const Violation& self) {
    return member(enums::kSeverity, self.severity);
}

// Texts stand between single quotes as they are, without escaping.
PyResult<std::string> violation_repr(const Violation& self) {
    return "Violation(name='" + self.name + "', message='" + self.message + "', severity='" +
           std::string(name_of(self.severity)) + "')";
}

const GetterRow kViolationGetters[] = {
    property<violation_name>("name"),
    property<violation_message>("message"),
    property<violation_severity>("severity"),
};

// ---- EvaluationResult ----

PyResult<bool> result_is_satisfied(const EvaluationResult& self) {
    return self.is_satisfied;
}

PyResult<std::optional<bool>> result_is_satisfied_tristate(const EvaluationResult& self) {
    return self.is_satisfied_tristate;
}

PyResult<std::vector<Violation>> result_violations(const EvaluationResult& self) {
    return self.violations;
}

PyResult<std::string> result_repr(const EvaluationResult& self) {
    std::string tristate = !self.is_satisfied_tristate   ? "None"
                           : *self.is_satisfied_tristate ? "Some(true)"
                                                         : "Some(false)";
    return std::string("EvaluationResult(is_satisfied=") + (self.is_satisfied ? "true" : "false") +
           ", is_satisfied_tristate=" + tristate +
           ", violations=" + std::to_string(self.violations.size()) + ")";
}

const GetterRow kEvaluationResultGetters[] = {
    property<result_is_satisfied>(
        "is_satisfied", "Backwards compatible boolean: false if evaluation is unknown (NULL)"),
    property<result_is_satisfied_tristate>(
        "is_satisfied_tristate", "Tri-state evaluation result: True, False, or None (NULL)"),
    property<result_violations>("violations", "List of violations"),
};

} // namespace

const ClassSpec kViolationClass{.name = "Violation",
                                .doc = "A policy violation",
                                .layout = layout_of<Violation>(),
                                .getters = kViolationGetters,
                                .slots = {.repr = unary_slot<violation_repr>}};

const ClassSpec kEvaluationResultClass{.name = "EvaluationResult",
                                       .doc = "Result of evaluating a policy against a graph",
                                       .layout = layout_of<EvaluationResult>(),
                                       .getters = kEvaluationResultGetters,
                                       .slots = {.repr = unary_slot<result_repr>}};

} // namespace vok::python
