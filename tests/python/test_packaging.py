"""The module under test is the installed extension, built with the interface we document."""

import importlib.machinery
import sysconfig
from pathlib import Path

import pytest

import ortolan

REPO_ROOT = Path(__file__).resolve().parents[2]

ENV_METHODS = [
    "reset",
    "step",
    "get_actions",
    "save_state",
    "restore_state",
    "roll_out",
    "parse_fen",
    "hash_state",
    "render",
]


def test_imported_from_site_packages_not_the_checkout():
    module_path = Path(ortolan.__file__).resolve()
    platlib = Path(sysconfig.get_paths()["platlib"]).resolve()
    assert module_path.parent == platlib, module_path
    assert not module_path.is_relative_to(REPO_ROOT / "build")
    assert not module_path.is_relative_to(REPO_ROOT / "src")


def test_is_a_compiled_extension_for_this_interpreter():
    assert isinstance(ortolan.__spec__.loader, importlib.machinery.ExtensionFileLoader)
    assert ortolan.__file__.endswith(sysconfig.get_config_var("EXT_SUFFIX"))


@pytest.mark.parametrize("name", ENV_METHODS)
def test_env_exposes_method(name):
    assert callable(getattr(ortolan.Ortolan, name, None)), f"Ortolan.{name} missing"


def test_adapter_notation_and_stub_package_are_installed_beside_the_module():
    import ortolan_match
    import ortolan_notation
    import ortolan_pettingzoo
    import ortolan_uci

    platlib = Path(sysconfig.get_paths()["platlib"]).resolve()
    scripts = Path(sysconfig.get_paths()["scripts"])
    assert (scripts / "ortolan-uci").is_file()
    assert (scripts / "ortolan-match").is_file()
    for package in (ortolan_pettingzoo, ortolan_notation, ortolan_uci, ortolan_match):
        folder = Path(package.__file__).resolve().parent
        assert folder.parent == platlib, folder
        assert (folder / "py.typed").is_file()
    stub = platlib / "ortolan-stubs" / "__init__.pyi"
    assert stub.read_text() == (platlib / "ortolan.pyi").read_text()
    assert "class Ortolan:" in stub.read_text()


def test_vector_package_holds_its_compiled_core_and_type_information():
    import ortolan_vector
    import ortolan_vector._core

    package = Path(ortolan_vector.__file__).resolve().parent
    platlib = Path(sysconfig.get_paths()["platlib"]).resolve()
    assert package == platlib / "ortolan_vector"
    core = Path(ortolan_vector._core.__file__)
    assert core.parent.resolve() == package
    assert core.name == "_core" + sysconfig.get_config_var("EXT_SUFFIX")
    assert (package / "py.typed").is_file()
    assert (package / "_core.pyi").is_file()
