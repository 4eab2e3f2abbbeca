"""The console program's status line: shown on a terminal, never elsewhere."""
import os
import pathlib
import pty
import shutil
import subprocess

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = (ROOT / os.environ.get("BTCFIT_BUILD", "build")).resolve()
GOLDEN = ROOT / "tests" / "data" / "golden"


def run_deck(tmp_path, name, stderr):
    shutil.copy(GOLDEN / name / "deck", tmp_path / "deck.in")
    return subprocess.run([str(BUILD / "btcfit")], input=b"deck.in\nreport.out\n",
                          stdout=subprocess.PIPE, stderr=stderr, cwd=tmp_path, timeout=120)


def test_status_line_on_a_terminal(tmp_path):
    main, secondary = pty.openpty()
    try:
        done = run_deck(tmp_path, "example", secondary)
        os.close(secondary)
        secondary = -1
        shown = b""
        while True:
            try:
                chunk = os.read(main, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
    finally:
        if secondary >= 0:
            os.close(secondary)
        os.close(main)
    assert done.returncode == 0
    # Each outer iteration rewrites the line in place; the end erases it.
    assert b"\rbtcfit: iteration 0, best SSQ " in shown
    assert shown.count(b"\rbtcfit: iteration ") > 10
    assert shown.endswith(b"\r\x1b[K")
    golden = GOLDEN / "example"
    assert (tmp_path / "report.out").read_bytes() == (golden / "report.out").read_bytes()
    assert done.stdout == (golden / "console.txt").read_bytes()


def test_nothing_extra_when_standard_error_is_redirected(tmp_path):
    done = run_deck(tmp_path, "equilibrium-multipulse", subprocess.PIPE)
    golden = GOLDEN / "equilibrium-multipulse"
    assert done.returncode == 0
    assert done.stderr == b""
    assert done.stdout == (golden / "console.txt").read_bytes()
    assert (tmp_path / "report.out").read_bytes() == (golden / "report.out").read_bytes()
    assert (tmp_path / "pd.dat").read_bytes() == (golden / "pd.dat").read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["deck.in", "pd.dat", "report.out"]
