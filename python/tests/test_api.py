"""The package as tools see it: inspect.signature of every function, the
.pyi stub beside the module agreeing with it, py.typed, the version the
header declares, and names that say runlabel."""
import ast
import inspect
import pathlib
import re

import numpy as np
import pytest

import runlabel

PACKAGE = pathlib.Path(runlabel.__file__).parent
HEADER = pathlib.Path(__file__).resolve().parents[2] / "include" / "runlabel" / "runlabel.h"
FUNCTIONS = ["label", "regions", "read", "write"]


def stub_functions():
    tree = ast.parse((PACKAGE / "__init__.pyi").read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def stub_parameters(node):
    """(name, kind, default) of each parameter a stub function declares."""
    args = node.args
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + args.defaults
    params = [(a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, d)
              for a, d in zip(positional, defaults)]
    params += [(a.arg, inspect.Parameter.KEYWORD_ONLY, d)
               for a, d in zip(args.kwonlyargs, args.kw_defaults)]
    return [(name, kind, inspect.Parameter.empty if d is None else ast.literal_eval(d))
            for name, kind, d in params]


def test_every_public_name_is_in_the_stub():
    assert sorted(runlabel.__all__) == sorted(FUNCTIONS + ["Error"])
    assert sorted(stub_functions()) == sorted(FUNCTIONS)
    assert "class Error(ValueError)" in (PACKAGE / "__init__.pyi").read_text()
    assert (PACKAGE / "py.typed").is_file()


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signature_matches_the_stub(name):
    signature = inspect.signature(getattr(runlabel, name))
    got = [(p.name, p.kind, p.default) for p in signature.parameters.values()]
    assert got == stub_parameters(stub_functions()[name])


# Each function called with every argument it declares, by keyword, at its
# declared default: a name or default the binding does not have fails here.
def declared_defaults(function, **given):
    for p in inspect.signature(function).parameters.values():
        if p.default is not inspect.Parameter.empty:
            given.setdefault(p.name, p.default)
    return given


def test_declared_names_and_defaults_are_the_bindings(tmp_path):
    image = np.array([[1, 0, 1], [1, 0, 0]], np.uint8)
    labels, count = runlabel.label(**declared_defaults(runlabel.label, image=image))
    want = runlabel.label(image)
    assert count == want[1] == 2 and labels.dtype == want[0].dtype
    np.testing.assert_array_equal(labels, want[0])
    table = runlabel.regions(**declared_defaults(runlabel.regions, image=image))
    np.testing.assert_array_equal(table["area"], [2, 1])
    path = tmp_path / "labels.png"
    runlabel.write(**declared_defaults(runlabel.write, path=path, labels=labels))
    np.testing.assert_array_equal(runlabel.read(**declared_defaults(runlabel.read, path=path)),
                                  labels)


def test_help_shows_the_signatures():
    text = inspect.getdoc(runlabel.label)
    assert text.startswith("Label the connected regions")
    assert "min_area" in text and "threads" in text and "sort" in text
    assert "--\n" not in runlabel.regions.__doc__


def test_names_say_runlabel():
    assert runlabel.Error.__module__ == "runlabel"
    assert all(getattr(runlabel, name).__module__ == "runlabel" for name in FUNCTIONS)


def test_version_is_the_headers():
    parts = dict(re.findall(r"#define RUNLABEL_VERSION_(MAJOR|MINOR|PATCH) (\d+)",
                            HEADER.read_text()))
    assert runlabel.__version__ == f"{parts['MAJOR']}.{parts['MINOR']}.{parts['PATCH']}"
