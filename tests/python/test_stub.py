"""The type stub installed beside the module describes exactly what the module holds."""

import ast
import pathlib

import ortolan


def stub_classes():
    stub = pathlib.Path(ortolan.__file__).with_name("ortolan.pyi")
    tree = ast.parse(stub.read_text())
    classes = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            classes[node.name] = {
                item.name for item in node.body if isinstance(item, ast.FunctionDef)
            }
    return tree, classes


def public_members(cls):
    return {name for name in vars(cls) if not name.startswith("_")} | {"__init__"}


def test_stub_lists_the_two_classes_and_nothing_else_at_module_level():
    tree, classes = stub_classes()
    assert list(classes) == ["State", "Ortolan"]
    top_level = [n for n in tree.body if not isinstance(n, ast.Import | ast.ClassDef | ast.Expr)]
    assert top_level == []


def test_stub_members_match_the_runtime_classes():
    _, classes = stub_classes()
    assert classes["State"] == public_members(ortolan.State)
    assert classes["Ortolan"] == public_members(ortolan.Ortolan)
