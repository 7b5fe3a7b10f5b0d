"""The evaluators the engine can search with, named by the ``Evaluator`` option.

- ``rollout``: one random playout a leaf, in C++ (``Search.run("rollout")``);
- ``package.module:function``: a Python callable with ``Search``'s evaluator signature,
  ``evaluate(observations, masks) -> (priors, values)``, imported by name;
- a path ending in ``.onnx``: a network run with onnxruntime (input ``observation``, float32
  (M, 119, 8, 8); outputs ``policy``, float32 (M, 4672) logits, and ``value``, float32 (M,) or
  (M, 1) in [-1, 1] for the side to move).
"""

from __future__ import annotations

import importlib
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

ACTIONS = 4672
PLANES = 119

Evaluate = Callable[[npt.NDArray[Any], npt.NDArray[np.bool_]], tuple[Any, Any]]


class EvaluatorError(ValueError):
    """An Evaluator option that names nothing the engine can load."""


def load(name: str) -> str | Evaluate:
    """ "rollout", or the callable that the option names."""
    name = name.strip()
    if name == "rollout":
        return "rollout"
    if name.lower().endswith(".onnx"):
        return OnnxEvaluator(name)
    module_name, colon, attribute = name.partition(":")
    if not colon or not module_name or not attribute:
        raise EvaluatorError(
            f"evaluator {name!r} is neither rollout, a module:function nor an .onnx file"
        )
    try:
        target: Any = importlib.import_module(module_name)
    except Exception as error:
        raise EvaluatorError(f"cannot import {module_name}: {error}") from error
    for part in attribute.split("."):
        try:
            target = getattr(target, part)
        except AttributeError:
            raise EvaluatorError(f"{module_name} has no {attribute}") from None
    if not callable(target):
        raise EvaluatorError(f"{name} is not callable")
    return target


class OnnxEvaluator:
    """A network in an ONNX file as a ``Search`` evaluator: the policy's logits turned into
    priors over the legal actions by a softmax, the value clipped to [-1, 1]."""

    def __init__(self, path: str, threads: int = 1):
        try:
            import onnxruntime
        except ImportError:
            raise EvaluatorError(
                "an .onnx evaluator needs onnxruntime: pip install 'ortolan[onnx]'"
            ) from None
        options = onnxruntime.SessionOptions()
        options.intra_op_num_threads = threads
        try:
            self.session = onnxruntime.InferenceSession(
                path, options, providers=["CPUExecutionProvider"]
            )
        except Exception as error:
            raise EvaluatorError(f"cannot load {path}: {error}") from error
        inputs = {i.name: i for i in self.session.get_inputs()}
        outputs = {o.name for o in self.session.get_outputs()}
        if set(inputs) != {"observation"} or not {"policy", "value"} <= outputs:
            raise EvaluatorError(
                f"{path} must take one input 'observation' and give 'policy' and 'value', "
                f"not inputs {sorted(inputs)} and outputs {sorted(outputs)}"
            )
        if inputs["observation"].type != "tensor(float)":
            raise EvaluatorError(f"{path}: 'observation' must be float32")

    def __call__(
        self, observations: npt.NDArray[Any], masks: npt.NDArray[np.bool_]
    ) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.float32]]:
        feed = {"observation": np.ascontiguousarray(observations, dtype=np.float32)}
        policy, value = self.session.run(["policy", "value"], feed)
        rows = len(observations)
        logits = np.asarray(policy, dtype=np.float32).reshape(rows, ACTIONS)
        logits = np.where(masks, logits, -np.inf)
        top = logits.max(axis=1, keepdims=True)
        top[~np.isfinite(top)] = 0.0
        priors = np.exp(logits - top)
        values = np.clip(np.asarray(value, dtype=np.float32).reshape(rows), -1.0, 1.0)
        return priors.astype(np.float32), np.nan_to_num(values)
