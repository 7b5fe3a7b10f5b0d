"""The README's Python examples run as written."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[2] / "README.md"
BLOCKS = re.findall(r"^```python\n(.*?)^```$", README.read_text(), flags=re.M | re.S)


def test_readme_has_its_examples():
    assert len(BLOCKS) >= 2
    assert "import ortolan\n" in BLOCKS[0]


@pytest.mark.parametrize("code", BLOCKS, ids=[f"block{i}" for i in range(len(BLOCKS))])
def test_readme_example_runs(code, tmp_path):
    result = subprocess.run(
        [sys.executable, "-c", code],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )
    assert result.returncode == 0, result.stderr
    if code is BLOCKS[0]:
        # The letter board of render comes through C stdio, so its place in the output varies.
        lines = result.stdout.splitlines()
        assert len({"White wins", "Black wins", "draw"} & set(lines)) == 1
        assert len({"1", "-1", "0"} & set(lines)) == 1
        assert "side:       white" in lines or "side:       black" in lines
