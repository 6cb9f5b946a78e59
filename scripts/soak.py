#!/usr/bin/env python3
"""Soak test: many fast games of the real engine binary against a random-move opponent.

The games are refereed by `kestrova match` (a new engine process per game, random
three-stone openings, BOARD for the first move and TURN after it). From its SGF record
this counts, for the engine only:
  illegal  moves off the board, onto a taken cell, or replies that are no move
  late     replies that took longer than timeout_turn
  crashes  games where the engine closed its output or died
  hangs    moves that never came (the referee gave up after timeout_turn + tolerance)
and exits with status 1 unless all four are 0.

    python3 scripts/soak.py [--games 200] [--turn 600] [--size 20] [--build build/release]
                            [--engine "wine build/mingw/pbrain-kestrova64.exe"]
"""
import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
OPPONENT = "random-mover"


def parse_sgf(text):
    """Yields (black name, white name, result, reason, [(colour, ms or None)]) per game."""
    for game in re.findall(r"\(;.*?\n\)\n", text, re.S):
        def prop(key):
            m = re.search(r"(?<![A-Z])" + key + r"\[((?:\\.|[^\]\\])*)\]", game)
            return re.sub(r"\\(.)", r"\1", m.group(1)) if m else ""
        moves = []
        for colour, comment in re.findall(r";([BW])\[[^\]]*\]C\[([^\]]*)\]", game):
            ms = re.match(r"(\d+) ms", comment)
            moves.append((colour, int(ms.group(1)) if ms else None))
        yield prop("PB"), prop("PW"), prop("RE"), prop("C"), moves


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--games", type=int, default=200)
    parser.add_argument("--turn", type=int, default=600, help="timeout_turn in ms")
    parser.add_argument("--tolerance", type=int, default=5000,
                        help="how long past timeout_turn a move is still awaited, in ms")
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--engine", help="engine command line (default: BUILD/pbrain-kestrova)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--size", type=int, default=20, help="board size, 5..20")
    args = parser.parse_args()

    engine = args.engine or os.path.join(args.build, "pbrain-kestrova")
    tool = os.path.join(args.build, "kestrova")
    for path in ([tool] if args.engine else [tool, engine]):
        if not os.access(path, os.X_OK):
            sys.exit(f"soak: {path} is missing; build first: "
                     "cmake --preset release && cmake --build --preset release")
    opponent = f"{sys.executable} {os.path.join(HERE, 'random_engine.py')} {args.seed}"

    with tempfile.TemporaryDirectory() as tmp:
        sgf = os.path.join(tmp, "soak.sgf")
        command = [tool, "match", engine, opponent, "--games", str(args.games),
                   "--turn", str(args.turn), "--tolerance", str(args.tolerance),
                   "--seed", str(args.seed), "--size", str(args.size), "--sgf", sgf]
        print("soak:", shlex.join(command), flush=True)
        status = subprocess.run(command).returncode
        if status != 0 or not os.path.exists(sgf):
            sys.exit(f"soak: kestrova match failed (status {status})")
        with open(sgf, encoding="utf-8", errors="replace") as f:
            games = list(parse_sgf(f.read()))

    illegal = late = crashes = hangs = 0
    engine_moves, times, wins, losses, draws = 0, [], 0, 0, 0
    for black, white, result, reason, moves in games:
        colour = "W" if black.startswith(OPPONENT) else "B"
        for mover, ms in moves:
            if mover == colour and ms is not None:
                engine_moves += 1
                times.append(ms)
                if ms > args.turn:
                    late += 1
        # Reasons name the engine "A": see kestrova match.
        if reason.startswith("A played") or reason.startswith("A sent a malformed"):
            illegal += 1
        elif reason.startswith("A crashed") or reason.startswith("A could not") or \
                (reason.startswith("A ") and "START" in reason):
            crashes += 1
        elif reason.startswith("A") and "sent no move within" in reason:
            hangs += 1
        elif reason.startswith("A") and "replied after" in reason:
            late += 1  # the move came too late to be recorded as played
        if result.startswith(colour):
            wins += 1
        elif result in ("0", "Void", ""):
            draws += 1
        else:
            losses += 1
        if not reason.startswith("A made five") and not reason.startswith("B made five"):
            print(f"soak: game ended by: {reason}")

    times.sort()
    print(f"soak: {len(games)} games, {engine_moves} engine moves; engine won {wins}, "
          f"lost {losses}, drew {draws}")
    if times:
        print(f"soak: engine move time: median {times[len(times) // 2]} ms, "
              f"max {times[-1]} ms (timeout_turn {args.turn} ms)")
    print(f"soak: illegal moves {illegal}, late replies {late}, crashes {crashes}, "
          f"hangs {hangs}")
    if len(games) != args.games:
        sys.exit(f"soak: expected {args.games} games, the record has {len(games)}")
    sys.exit(0 if illegal == late == crashes == hangs == 0 else 1)


if __name__ == "__main__":
    main()
