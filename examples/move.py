#!/usr/bin/env python3
"""The C example in Python: move one axis, switch an output, read an input.
Against the simulated board: RVX_DRIVER=sim python3 move.py
(with PYTHONPATH naming the folder of the rvx406a package)."""
import rvx406a

with rvx406a.Boards() as boards:
    board = boards[0]
    kind, version, axes, di, do = board.info()
    print(f"boards: {len(boards)}; board 0: {axes} axes, {di} DI, {do} DO")

    axis = board.axis(0)
    axis.set_pulse_mode(0)
    axis.servo(True)
    axis.set_speed(1000, 20000, 20, 20)
    try:
        axis.move(3000)
        axis.wait_done(timeout_s=10)  # raises the stop cause, e.g. a limit
        print(f"moved: command {axis.command_pos}, actual {axis.actual_pos}")
    except rvx406a.errors.RvxError as e:
        raise SystemExit(f"move: {e.name} ({e.code})")
    finally:
        axis.servo(False)

    board.put_do(2, 1)
    print(f"DO 2 = {board.get_do(2)}, DI 2 = {board.get_di(2)}")
