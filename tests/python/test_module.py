"""The module as the interpreter sees it: its contents, its definition and how it imports."""

import ast
import os
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import ortolan

# Module definition slot numbers from CPython's moduleobject.h.
PY_MOD_CREATE = 1
PY_MOD_EXEC = 2
PY_MOD_MULTIPLE_INTERPRETERS = 3
PY_MOD_GIL = 4


def run_python(code, executable=sys.executable):
    """Runs code in a fresh interpreter and returns what it printed."""
    result = subprocess.run(
        [executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=os.environ.copy(),
        timeout=120,
        check=False,
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_public_names_are_the_two_classes():
    assert [name for name in dir(ortolan) if not name.startswith("__")] == ["Ortolan", "State"]
    assert isinstance(ortolan.State, type)
    assert isinstance(ortolan.Ortolan, type)


def test_state_is_registered_before_ortolan():
    assert [name for name in vars(ortolan) if not name.startswith("__")] == ["State", "Ortolan"]


def test_no_module_docstring_and_no_version():
    assert ortolan.__doc__ is None
    assert not hasattr(ortolan, "__version__")
    assert not hasattr(ortolan, "version")


def test_classes_have_no_docstring_and_belong_to_the_module():
    for cls in (ortolan.State, ortolan.Ortolan):
        assert cls.__doc__ is None
        assert cls.__module__ == "ortolan"
        assert cls.__qualname__ == cls.__name__


def test_import_does_not_load_numpy_but_the_first_array_read_does():
    out = run_python(
        """
        import sys
        import ortolan
        assert "numpy" not in sys.modules, "numpy imported by the module import"
        ortolan.Ortolan().reset()
        ortolan.State().state_history
        assert "numpy" not in sys.modules, "numpy imported before an array was asked for"
        array = ortolan.State().bitboards
        assert "numpy" in sys.modules
        print(type(array).__module__, array.dtype)
        """
    )
    assert out == "numpy uint64\n"


def test_occupancies_read_also_loads_numpy():
    out = run_python(
        """
        import sys
        import ortolan
        state = ortolan.State()
        assert "numpy" not in sys.modules
        state.occupancies
        print("numpy" in sys.modules)
        """
    )
    assert out == "True\n"


def test_a_second_import_returns_the_same_module():
    out = run_python(
        """
        import sys
        import ortolan
        first = ortolan
        del sys.modules["ortolan"]
        import ortolan
        print(ortolan is first, ortolan.State is first.State, ortolan.Ortolan is first.Ortolan)
        """
    )
    assert out == "True True True\n"


@pytest.mark.parametrize("gil", ["own", "shared"])
def test_import_into_a_sub_interpreter_is_refused(gil):
    # With a shared interpreter lock only the "multiple interpreters not supported" slot makes
    # the import fail; with an own lock any module not declaring per-interpreter support does.
    # A fresh process keeps the sub-interpreter away from the other tests.
    out = run_python(
        f"""
        import _interpreters
        config = _interpreters.new_config("isolated", gil={gil!r})
        interp = _interpreters.create(config)
        try:
            failure = _interpreters.exec(interp, "import ortolan")
            print(None if failure is None else failure.type.__name__)
            print(None if failure is None else failure.msg)
            print(_interpreters.exec(interp, "import sys"))
        finally:
            _interpreters.destroy(interp)
        import ortolan
        print(ortolan.Ortolan().reset()[0])
        """
    )
    assert out.splitlines() == [
        "ImportError",
        "module ortolan does not support loading in subinterpreters",
        "None",
        "0",
    ]


def test_module_definition_slots():
    # The entry point hands out the module definition for multi-phase initialisation; read
    # it with ctypes in a fresh interpreter (calling the entry point again is harmless there).
    out = run_python(
        """
        import ctypes
        import ortolan

        class Slot(ctypes.Structure):
            _fields_ = [("slot", ctypes.c_int), ("value", ctypes.c_void_p)]

        class ModuleDef(ctypes.Structure):
            _fields_ = [
                ("ob_refcnt", ctypes.c_ssize_t), ("ob_type", ctypes.c_void_p),
                ("m_init", ctypes.c_void_p), ("m_index", ctypes.c_ssize_t),
                ("m_copy", ctypes.c_void_p), ("m_name", ctypes.c_char_p),
                ("m_doc", ctypes.c_char_p), ("m_size", ctypes.c_ssize_t),
                ("m_methods", ctypes.c_void_p), ("m_slots", ctypes.POINTER(Slot)),
                ("m_traverse", ctypes.c_void_p), ("m_clear", ctypes.c_void_p),
                ("m_free", ctypes.c_void_p),
            ]

        library = ctypes.PyDLL(ortolan.__file__)
        library.PyInit_ortolan.restype = ctypes.POINTER(ModuleDef)
        definition = library.PyInit_ortolan().contents
        print(definition.m_name.decode(), definition.m_doc, definition.m_size,
              definition.m_methods)
        i = 0
        while definition.m_slots[i].slot:
            print(definition.m_slots[i].slot, definition.m_slots[i].value or 0)
            i += 1
        """
    )
    lines = out.splitlines()
    assert lines[0] == "ortolan None 0 None"
    slots = [tuple(int(field) for field in line.split()) for line in lines[1:]]
    assert [slot for slot, _ in slots] == [PY_MOD_CREATE, PY_MOD_EXEC, PY_MOD_MULTIPLE_INTERPRETERS]
    # Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED is the null pointer. No Py_mod_gil slot
    # (PY_MOD_GIL): the module does not claim to run without the global lock.
    assert dict(slots)[PY_MOD_MULTIPLE_INTERPRETERS] == 0


def other_cpython():
    """A CPython other than 3.13 on this machine, or None."""
    candidates = [shutil.which(f"python3.{minor}") for minor in (12, 11, 14, 10)]
    pyenv_root = Path(os.environ.get("PYENV_ROOT", Path.home() / ".pyenv")) / "versions"
    if pyenv_root.is_dir():
        candidates += sorted(str(p) for p in pyenv_root.glob("3.*/bin/python3"))
    for candidate in candidates:
        if not candidate or not os.access(candidate, os.X_OK):
            continue
        probe = subprocess.run(
            [candidate, "-c", "import sys; print((3, 10) <= sys.version_info[:2] != (3, 13))"],
            capture_output=True,
            text=True,
            check=False,
        )
        if probe.returncode == 0 and probe.stdout.strip() == "True":
            return candidate
    return None


def test_import_into_another_python_version_names_both_versions():
    executable = other_cpython()
    if executable is None:
        pytest.skip("no CPython other than 3.13 found")
    # Lazy symbol binding lets the entry point run far enough to check the version.
    out = run_python(
        f"""
        import importlib.machinery, importlib.util, os, sys
        sys.setdlopenflags(os.RTLD_LAZY)
        path = {ortolan.__file__!r}
        loader = importlib.machinery.ExtensionFileLoader("ortolan", path)
        found = importlib.util.spec_from_file_location("ortolan", path, loader=loader)
        try:
            importlib.util.module_from_spec(found)
        except ImportError as error:
            print(repr(str(error)))
            print(repr(sys.version))
        else:
            print("imported")
        """,
        executable=executable,
    )
    lines = out.splitlines()
    assert len(lines) == 2, out
    message, version = ast.literal_eval(lines[0]), ast.literal_eval(lines[1])
    assert message == (
        "Python version mismatch: module was compiled for Python 3.13, but the interpreter "
        f"version is incompatible: {version}."
    )
