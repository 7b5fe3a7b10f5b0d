"""Writes a NumPy network as an ONNX file that ``ortolan-uci`` loads as its evaluator.

The network is the smallest that fits the contract: the 119 x 8 x 8 observation flattened,
one hidden layer of ReLU units, a linear policy head of 4672 logits and a tanh value head.
Its weights come from an ``.npz`` file with the arrays ``w1 b1 wp bp wv bv`` (shapes
(7616, H), (H,), (H, 4672), (4672,), (H, 1), (1,)), or are drawn at random with ``--seed``:

    python examples/export_onnx.py net.onnx [--weights weights.npz] [--hidden 64]
    ortolan-uci      # then: setoption name Evaluator value net.onnx

``forward`` is the same network in NumPy, for checking an export against its source.
Needs the optional extra ``ortolan[onnx]`` (onnx to write the file, onnxruntime to run it).
"""

from __future__ import annotations

import argparse

import numpy as np

INPUTS = 119 * 8 * 8
ACTIONS = 4672
NAMES = ("w1", "b1", "wp", "bp", "wv", "bv")


def random_weights(hidden: int, seed: int) -> dict[str, np.ndarray]:
    rng = np.random.default_rng(seed)
    scale = 1.0 / np.sqrt(INPUTS)
    return {
        "w1": (rng.standard_normal((INPUTS, hidden)) * scale).astype(np.float32),
        "b1": np.zeros(hidden, np.float32),
        "wp": (rng.standard_normal((hidden, ACTIONS)) / np.sqrt(hidden)).astype(np.float32),
        "bp": np.zeros(ACTIONS, np.float32),
        "wv": (rng.standard_normal((hidden, 1)) / np.sqrt(hidden)).astype(np.float32),
        "bv": np.zeros(1, np.float32),
    }


def forward(weights: dict[str, np.ndarray], observation: np.ndarray) -> tuple[np.ndarray, ...]:
    """(policy logits (M, 4672), values (M,)) of observations (M, 119, 8, 8)."""
    x = observation.reshape(len(observation), INPUTS).astype(np.float32)
    h = np.maximum(x @ weights["w1"] + weights["b1"], 0.0)
    return h @ weights["wp"] + weights["bp"], np.tanh(h @ weights["wv"] + weights["bv"])[:, 0]


def export(weights: dict[str, np.ndarray], path: str) -> None:
    import onnx
    from onnx import TensorProto, helper, numpy_helper

    nodes = [
        helper.make_node("Flatten", ["observation"], ["x"], axis=1),
        helper.make_node("Gemm", ["x", "w1", "b1"], ["h0"]),
        helper.make_node("Relu", ["h0"], ["h"]),
        helper.make_node("Gemm", ["h", "wp", "bp"], ["policy"]),
        helper.make_node("Gemm", ["h", "wv", "bv"], ["v0"]),
        helper.make_node("Tanh", ["v0"], ["v1"]),
        helper.make_node("Squeeze", ["v1", "axis"], ["value"]),
    ]
    initializers = [numpy_helper.from_array(weights[name], name) for name in NAMES]
    initializers.append(numpy_helper.from_array(np.array([1], np.int64), "axis"))
    graph = helper.make_graph(
        nodes,
        "ortolan-evaluator",
        [helper.make_tensor_value_info("observation", TensorProto.FLOAT, ["M", 119, 8, 8])],
        [
            helper.make_tensor_value_info("policy", TensorProto.FLOAT, ["M", ACTIONS]),
            helper.make_tensor_value_info("value", TensorProto.FLOAT, ["M"]),
        ],
        initializers,
    )
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])
    model.ir_version = 8
    onnx.checker.check_model(model)
    onnx.save(model, path)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path", help="the .onnx file to write")
    parser.add_argument("--weights", help=".npz with w1 b1 wp bp wv bv")
    parser.add_argument("--hidden", type=int, default=64, help="hidden units of random weights")
    parser.add_argument("--seed", type=int, default=0)
    args = parser.parse_args(argv)
    if args.weights:
        with np.load(args.weights) as data:
            weights = {name: data[name].astype(np.float32) for name in NAMES}
    else:
        weights = random_weights(args.hidden, args.seed)
    export(weights, args.path)
    print(f"wrote {args.path}")


if __name__ == "__main__":
    main()
