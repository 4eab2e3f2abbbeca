import concurrent.futures
import csv
import io
import os
import pickle
import shutil
import subprocess

import pytest

import btcfit
from conftest import BUILD, GOLDEN, ROOT, golden_decks, golden_report

SMALL = ["example", "equilibrium-multipulse", "bad-bounds"]


@pytest.fixture(scope="module")
def bad_deck(tmp_path_factory):
    path = tmp_path_factory.mktemp("decks") / "bad.in"
    text = (GOLDEN / "example" / "deck").read_text()
    path.write_text(text.replace("         2", "       2.0", 1))
    return path


def check_entries(names, entries, bad_deck_last=True):
    assert len(entries) == len(names) + bad_deck_last
    for name, entry in zip(names, entries):
        if int((GOLDEN / name / "status").read_text()) == 0:
            assert isinstance(entry, btcfit.FitResult), (name, entry)
            assert entry.report() == golden_report(name), name
        else:
            assert isinstance(entry, btcfit.ProblemError), (name, entry)
    if bad_deck_last:
        assert isinstance(entries[-1], btcfit.DeckError)
        assert entries[-1].record == 2


def test_fit_many_on_threads_matches_single_fits(bad_deck):
    names = golden_decks()
    fitting = golden_decks(0)
    problems = [btcfit.read_deck(GOLDEN / n / "deck") if n in fitting[::2] else GOLDEN / n / "deck"
                for n in names]
    done = []
    entries = btcfit.fit_many(problems + [str(bad_deck)], progress=done.append)
    check_entries(names, entries)
    assert sorted(done) == list(range(len(names) + 1))


def test_fit_many_in_processes(bad_deck):
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        entries = btcfit.fit_many([GOLDEN / n / "deck" for n in SMALL] + [bad_deck],
                                  executor=pool, progress=False)
    check_entries(SMALL, entries)


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_fit_many_on_a_dask_cluster(bad_deck):
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        entries = btcfit.fit_many([GOLDEN / n / "deck" for n in SMALL] + [bad_deck],
                                  executor=client.get_executor(), progress=False)
    check_entries(SMALL, entries)


def test_errors_pickle_with_their_fields():
    e = pickle.loads(pickle.dumps(btcfit.DeckError("unit 5: bad", 2, 11, 20)))
    assert (str(e), e.record, e.first_column, e.last_column) == ("unit 5: bad", 2, 11, 20)


def final_progress_fields(name):
    lines = golden_report(name).split("\r\n")
    last = [line for line in lines[:lines.index("     OBSERVED C     CALCULATED C")] if line][-1]
    # The layout's columns (I5, F10.6, F9.5 ...): a wide SSQ touches N.
    cuts = [0, 5, 15] + list(range(24, len(last) + 1, 9))
    return [last[a:b].strip() for a, b in zip(cuts, cuts[1:])]


@pytest.mark.skipif(shutil.which("parallel") is None, reason="GNU parallel not installed")
def test_command_line_script_table(bad_deck):
    env = dict(os.environ, BTCFIT=str(BUILD / "btcfit"))
    out = subprocess.run([ROOT / "examples" / "fit_many.sh", GOLDEN, bad_deck], env=env,
                         capture_output=True, text=True, check=True).stdout
    rows = list(csv.DictReader(io.StringIO(out)))
    names = golden_decks()
    assert [r["deck"] for r in rows] == [str(GOLDEN / n / "deck") for n in names] + [str(bad_deck)]
    for name, row in zip(names, rows):
        assert int(row["status"]) == int((GOLDEN / name / "status").read_text())
        if row["status"] == "0":
            fields = final_progress_fields(name)
            got = [row["iterations"], row["ssq"]] + [row[f"b{k}"] for k in range(1, 8)]
            assert got[:len(fields)] == fields and not row["message"], name
        else:
            assert row["message"] and not row["ssq"], name
    assert rows[-1]["status"] != "0" and "record 2" in rows[-1]["message"]


def test_keyboard_interrupt_stops_fit_many_and_its_fits():
    import _thread
    import threading
    import time
    problem = btcfit.read_deck(GOLDEN / "nonequilibrium-flux" / "deck")
    timer = threading.Timer(0.3, _thread.interrupt_main)
    start = time.perf_counter()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            btcfit.fit_many([problem] * 4, progress=False)
    finally:
        timer.cancel()
    assert time.perf_counter() - start < 1.0
    assert not [t for t in threading.enumerate() if t.name.startswith("btcfit")]
