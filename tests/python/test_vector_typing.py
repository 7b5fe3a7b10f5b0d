"""The package ortolan_vector is typed: its compiled core matches its stub, the package passes
mypy --strict, and a program using it type-checks with the types it expects."""

import pathlib


def test_stubtest_finds_the_core_consistent_with_its_stub(run_mypy, tmp_path):
    allowlist = pathlib.Path(__file__).with_name("stubtest_vector_allowlist.txt")
    code, output = run_mypy(
        "mypy.stubtest", "ortolan_vector._core", "--allowlist", str(allowlist), cwd=tmp_path
    )
    assert code == 0, output


def test_the_package_and_a_program_using_it_pass_mypy_strict(run_mypy, tmp_path):
    program = tmp_path / "trainer.py"
    program.write_text(
        "import numpy as np\n"
        "import ortolan\n"
        "from ortolan_vector import VectorOrtolan\n"
        'env = VectorOrtolan(4, dtype=np.float32, seed=1, rules="ortolan")\n'
        "obs, info = env.reset()\n"
        "actions, counts = env.legal_actions()\n"
        "obs, rewards, terminations, truncations, info = env.step(actions[:, 0])\n"
        "state = env.save_state(0)\n"
        "reveal_type(rewards)\n"
        "env.restore_state(0, 'state')\n"
    )
    code, output = run_mypy("mypy", "--strict", "-p", "ortolan_vector", cwd=tmp_path)
    assert code == 0, output
    code, output = run_mypy("mypy", "--strict", str(program), cwd=tmp_path)
    assert code == 1, output
    assert 'Revealed type is "numpy.ndarray[' in output
    assert "floating[numpy._typing._nbit_base._32Bit]" in output
    assert output.count("error:") == 1, output
    assert 'trainer.py:10: error: Argument 2 to "restore_state"' in output
