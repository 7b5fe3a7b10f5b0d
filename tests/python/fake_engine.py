"""A UCI engine that misbehaves on purpose, for the match runner's tests:
``fake_engine.py crash|hang|illegal [after]`` answers `after` searches (default 0) with its
first legal move, then crashes, hangs or plays an illegal move."""

import sys

import chess


def main() -> None:
    mode = sys.argv[1]
    after = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    board = chess.Board()
    searches = 0
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "uci":
            print("id name fake-" + mode)
            print("uciok")
        elif words[0] == "isready":
            print("readyok")
        elif words[0] == "position":
            board = chess.Board() if words[1] == "startpos" else chess.Board(" ".join(words[2:8]))
            if "moves" in words:
                for move in words[words.index("moves") + 1 :]:
                    board.push_uci(move)
        elif words[0] == "go":
            searches += 1
            if searches > after:
                if mode == "crash":
                    sys.exit(3)
                if mode == "hang":
                    continue
                # A move of the side not to move: the other side's first legal move.
                board.push(chess.Move.null())
                print("bestmove " + next(iter(board.legal_moves)).uci())
                board.pop()
            else:
                print("bestmove " + next(iter(board.legal_moves)).uci())
        elif words[0] == "quit":
            break
        sys.stdout.flush()


if __name__ == "__main__":
    main()
