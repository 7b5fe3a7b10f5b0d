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


def test_stubtest_finds_the_installed_stub_consistent_with_the_module(run_mypy, tmp_path):
    allowlist = pathlib.Path(__file__).with_name("stubtest_allowlist.txt")
    code, output = run_mypy("mypy.stubtest", "ortolan", "--allowlist", str(allowlist), cwd=tmp_path)
    assert code == 0, output


def test_mypy_uses_the_stub_for_a_user_program(run_mypy, tmp_path):
    program = tmp_path / "trainer.py"
    program.write_text(
        "import ortolan\n"
        "env = ortolan.Ortolan()\n"
        "side, observation, reward, done = env.step(496)\n"
        "reveal_type(observation)\n"
        "state: ortolan.State = env.save_state()\n"
        "env.step('e2e4')\n"
    )
    code, output = run_mypy("mypy", str(program), cwd=tmp_path)
    assert code == 1, output
    assert 'Revealed type is "list[list[int]]"' in output
    assert 'trainer.py:6: error: Argument 1 to "step" of "Ortolan" has incompatible type' in output
    assert "import-not-found" not in output


def test_examples_type_check_strictly_against_the_stub(run_mypy):
    examples = pathlib.Path(__file__).resolve().parents[2] / "examples"
    files = [str(examples / name) for name in ("mcts.py", "demo.py")]
    code, output = run_mypy("mypy", "--strict", *files, cwd=examples)
    assert code == 0, output


STRICT_PROGRAM = """\
import numpy as np
import numpy.typing as npt

import ortolan
import ortolan_notation as notation
import ortolan_pettingzoo


def first_move() -> tuple[str, int]:
    env = ortolan.Ortolan()
    side, observation, reward, done = env.reset()
    state: ortolan.State = env.save_state()
    action = notation.uci_to_action(state, "e2e4")
    policy: npt.NDArray[np.float64] = np.zeros(73 * 64)
    policy = policy[notation.FROM_PETTINGZOO[side]]
    board = notation.to_chess_board(state)
    return notation.action_to_san(state, action) + board.fen(), notation.to_pgx(action, side)


def adapter_move() -> int:
    game = ortolan_pettingzoo.env(max_plies=10, rules="ortolan")
    game.reset(seed=1)
    mask = game.observe(game.agent_selection)["action_mask"]
    space = ortolan_pettingzoo.raw_env(rules="ortolan").action_space("player_0")
    return int(np.flatnonzero(mask)[0]) % int(space.n)
"""


def test_a_user_program_of_all_three_modules_type_checks_strictly(run_mypy, tmp_path):
    # One deliberate misuse on the last line shows the packages are typed, not silently Any;
    # it must be the only error.
    program = tmp_path / "trainer.py"
    program.write_text(STRICT_PROGRAM + 'notation.to_fen("e2e4")\n')
    code, output = run_mypy("mypy", "--strict", str(program), cwd=tmp_path)
    assert code == 1, output
    errors = [line for line in output.splitlines() if ": error: " in line]
    assert len(errors) == 1, output
    last_line = STRICT_PROGRAM.count("\n") + 1
    assert (
        f'trainer.py:{last_line}: error: Argument 1 to "to_fen" has incompatible type' in errors[0]
    )
