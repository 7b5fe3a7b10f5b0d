"""The benchmark's paired measurement of two runners."""

from bench.common import paired_ratio


def test_paired_ratio_cancels_drift_between_pairs_and_switches_order():
    # The machine's speed halves from one pair to the next; within a call both runners see
    # the speed of that moment, and `fast` does three times the work of `slow`.
    calls = []
    speed = [8.0]

    def runner(name, work):
        def run(seconds):
            calls.append(name)
            units = work * speed[0] * seconds
            if len(calls) % 2 == 0:
                speed[0] /= 2
            return units, seconds

        return run

    fast, slow = runner("fast", 3), runner("slow", 1)
    assert paired_ratio(fast, slow, 4, 0.5) == [3.0, 3.0, 3.0, 3.0]
    assert calls == ["fast", "slow", "slow", "fast", "fast", "slow", "slow", "fast"]
