"""The type stub names what the package has."""
import ast
import pathlib

import pytest

import btcfit

STUB = pathlib.Path(btcfit.__file__).with_name("__init__.pyi")


def stub_members():
    tree = ast.parse(STUB.read_text())
    top, classes = set(), {}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            top.add(node.name)
        elif isinstance(node, (ast.Assign, ast.AnnAssign)):
            targets = node.targets if isinstance(node, ast.Assign) else [node.target]
            top.update(t.id for t in targets if isinstance(t, ast.Name))
        if isinstance(node, ast.ClassDef):
            names = set()
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    names.add(item.name)
                elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
                    names.add(item.target.id)
            classes[node.name] = names
    return top, classes


def test_every_public_name_is_in_the_stub():
    top, _ = stub_members()
    assert set(btcfit.__all__) | {"__version__"} <= top


@pytest.mark.parametrize("name", ["Problem", "FitResult", "Statistics", "Profiles",
                                  "ProfileInterval", "Criteria", "Refinement", "Coefficient",
                                  "ComparisonTable"])
def test_every_public_member_is_in_the_stub(name):
    _, classes = stub_members()
    public = {m for m in dir(getattr(btcfit, name)) if not m.startswith("_")}
    assert public <= classes[name] | {"columns"}, public - classes[name]
