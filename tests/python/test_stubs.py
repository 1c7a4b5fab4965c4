"""python/zl/_zl.pyi names every public name of the module, and each method's
stub documentation is the start of the method's own documentation."""

import ast
from pathlib import Path

import zl

STUBS = Path(__file__).resolve().parents[2] / "python" / "zl" / "_zl.pyi"


def declared(body):
    names = {}
    for node in body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            names[node.name] = node
        elif isinstance(node, ast.AnnAssign):
            names[node.target.id] = node
    return names


def public(obj):
    return {n for n in dir(obj) if not n.startswith("_")}


def test_stubs_cover_the_module():
    module = declared(ast.parse(STUBS.read_text()).body)
    assert public(zl._zl) | {"__version__"} <= set(module)
    for type_name in ("Client", "Callback", "ZLTagChanges"):
        members = declared(module[type_name].body)
        kind = getattr(zl, type_name)
        assert public(kind) <= set(members), type_name
        for name in public(kind):
            node = members[name]
            if isinstance(node, ast.FunctionDef):
                assert getattr(kind, name).__doc__.startswith(ast.get_docstring(node)), name
