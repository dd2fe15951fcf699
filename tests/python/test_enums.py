"""The shared protocol of the eighteen enumeration classes."""

import operator

import pytest

import vok_dsl

MEMBERS = {
    "Severity": ["Error", "Warning", "Info"],
    "UnaryOp": ["Not", "Negate"],
    "Quantifier": ["ForAll", "Exists", "ExistsUnique"],
    "BinaryOp": [
        "And", "Or", "Equal", "NotEqual", "GreaterThan", "LessThan", "GreaterThanOrEqual",
        "LessThanOrEqual", "Plus", "Minus", "Multiply", "Divide", "Contains", "StartsWith",
        "EndsWith", "Matches", "HasRole", "Before", "After", "During",
    ],
    "AggregateFunction": ["Count", "Sum", "Min", "Max", "Avg"],
    "FinalDecision": ["Allow", "Deny", "Escalate", "NotApplicable", "Reject"],
    "PolicyModality": ["Permission", "Prohibition", "Obligation", "Override"],
    "SourceClass": [
        "CallerSupplied", "RuntimeObserved", "SystemOfRecord", "Attested", "ManualApproval",
        "Derived", "UnknownSource",
    ],
    "ClaimLevel": ["AuditBacked", "Validated", "FormallyProven"],
    "SemanticTruth": ["Valid", "Invalid", "Unknown"],
    "DiagnosticSeverity": ["Error", "Warning", "Info", "Hint"],
    "ValidationMode": ["Off", "Warn", "Strict"],
    "ApprovalState": ["Candidate", "Approved", "Rejected"],
    "SignatureState": ["Unsigned", "Signed", "InvalidSignature"],
    "ConceptStatus": ["Active", "Proposed", "Deprecated", "Rejected", "ExternalOnly"],
    "ConceptKind": [
        "Entity", "Resource", "Role", "Flow", "Policy", "Metric", "Dimension", "Unit", "External",
    ],
    "AliasStatus": ["Approved", "Deprecated", "Ambiguous", "Blocked"],
    "SemanticValidationStatus": ["Passed", "Failed", "Unknown", "Blocked"],
}


class Indexable:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("class_name", MEMBERS)
def test_enumeration_class(class_name):
    cls = getattr(vok_dsl, class_name)
    names = MEMBERS[class_name]

    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == class_name and cls.__name__ == class_name
    expected_doc = "Severity level for policy violations" if class_name == "Severity" else None
    assert cls.__doc__ == expected_doc
    assert cls.__hash__ is None

    with pytest.raises(TypeError) as refused:
        cls()
    assert str(refused.value) == "No constructor defined for " + class_name
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})

    members = [getattr(cls, name) for name in names]
    for value, (name, member) in enumerate(zip(names, members)):
        assert type(member) is cls
        assert getattr(cls, name) is member  # made once
        assert int(member) == value
        assert repr(member) == str(member) == f"{class_name}.{name}"
        # Integers of every spelling compare by value.
        assert member == value and not (member != value)
        assert value == member
        assert member == Indexable(value)
        assert member != value + 1 and not (member == value + 1)
        assert (member == True) == (value == 1)  # noqa: E712 - a bool is an integer
        # Not comparable: floats, text, out-of-range integers.
        assert member != float(value) and member != str(value) and member != 2**70
        for other in (member, value, 0.5):
            for compare in (operator.lt, operator.le, operator.gt, operator.ge):
                with pytest.raises(TypeError):
                    compare(member, other)
        with pytest.raises(TypeError):
            hash(member)
        with pytest.raises(TypeError):
            {member}

    for left in members:
        for right in members:
            assert (left == right) == (left is right)
            assert (left != right) == (left is not right)


def test_members_of_different_classes_are_unequal_even_with_equal_values():
    assert vok_dsl.ApprovalState.Approved != vok_dsl.SignatureState.Signed
    assert not (vok_dsl.BinaryOp.And == vok_dsl.UnaryOp.Not)
    assert vok_dsl.BinaryOp.And == 0
    assert int(vok_dsl.BinaryOp.During) == 19
    assert int(vok_dsl.SourceClass.UnknownSource) == 6


def test_integers_compare_by_their_value_never_through_their_own_index():
    # As PyNumber_Index does: an int (or a subclass of int) is its value, whatever __index__ the
    # subclass defines, and a value beyond 64 bits is unequal.
    class Int(int):
        def __index__(self):
            raise AssertionError("asked")

    member = vok_dsl.BinaryOp.Or
    assert member == Int(1) and not (member != Int(1))
    assert member != Int(0) and Int(1) == member
    for far in (2**63, -(2**63) - 1, 2**64 + 1, Int(2**64 + 1)):
        assert member != far and not (member == far)
    assert vok_dsl.BinaryOp.And == Int(0) and vok_dsl.BinaryOp.And == False  # noqa: E712
    for other in (Int(1), True, 2**70):
        with pytest.raises(TypeError):
            member < other


def test_members_are_not_integers():
    member = vok_dsl.DiagnosticSeverity.Hint
    with pytest.raises(TypeError):
        [0, 1, 2, 3][member]
    with pytest.raises(TypeError):
        member + 1
    with pytest.raises(TypeError):
        iter(vok_dsl.DiagnosticSeverity)


def test_index_refusals_are_dropped_and_other_errors_raised():
    class Refusing:
        def __index__(self):
            raise TypeError("not an integer after all")

    class Broken:
        calls = 0

        def __index__(self):
            Broken.calls += 1
            raise RuntimeError("not an integer after all")

    assert vok_dsl.Severity.Error != Refusing()
    assert not vok_dsl.Severity.Error == Refusing()
    with pytest.raises(RuntimeError, match="after all"):
        vok_dsl.Severity.Error != Broken()
    assert Broken.calls == 1
    # Ordering is never supported, so __index__ is not asked.
    with pytest.raises(TypeError):
        vok_dsl.Severity.Error < Broken()
    assert Broken.calls == 1

