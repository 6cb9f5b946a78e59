#!/usr/bin/env python3
"""A protocol engine that plays a uniformly random empty cell: the soak's opponent.

Usage: random_engine.py [SEED]   (the seed is mixed with the process id, so each game of a
match, which starts a new process, plays differently).
"""
import os
import random
import sys

def main():
    seed = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    rng = random.Random(seed * 1000003 + os.getpid())
    taken = set()
    size = 20  # START n sets it
    in_board = False
    out = sys.stdout.buffer

    def reply(text):
        out.write(text.encode() + b"\r\n")
        out.flush()

    def move():
        free = [(x, y) for x in range(size) for y in range(size) if (x, y) not in taken]
        if not free:
            reply("ERROR no empty cell")
            return
        cell = rng.choice(free)
        taken.add(cell)
        reply(f"{cell[0]},{cell[1]}")

    for raw in sys.stdin.buffer:
        line = raw.decode(errors="replace").strip()
        if not line:
            continue
        word = line.split()[0].upper()
        if in_board:
            if word == "DONE":
                in_board = False
                move()
            else:
                fields = line.split(",")
                if len(fields) >= 2:
                    taken.add((int(fields[0]), int(fields[1])))
            continue
        if word == "START":
            fields = line.split()
            wanted = int(fields[1]) if len(fields) > 1 and fields[1].isdigit() else 20
            if not 5 <= wanted <= 20:
                reply("ERROR unsupported board size")
                continue
            size = wanted
            taken.clear()
            reply("OK")
        elif word == "BEGIN":
            move()
        elif word == "TURN":
            x, y = line.split()[1].split(",")
            taken.add((int(x), int(y)))
            move()
        elif word == "BOARD":
            taken.clear()
            in_board = True
        elif word == "INFO":
            pass
        elif word == "ABOUT":
            reply('name="random-mover", version="1"')
        elif word == "END":
            return
        else:
            reply("UNKNOWN")


if __name__ == "__main__":
    main()
