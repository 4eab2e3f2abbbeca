"""Many fits at once: btcfit.fit_many."""

import concurrent.futures
import os
import sys
import threading


def _fit_one(problem, threads, options, cancel=None):
    # Runs where the executor puts it: a thread, another process or another
    # machine; the problem and the result travel pickled.
    from . import fit
    return fit(problem, threads=threads, _cancel=cancel, **options)


def _read(entry):
    from . import Problem, read_deck
    if isinstance(entry, Problem):
        return entry
    if isinstance(entry, (str, os.PathLike)):
        return read_deck(entry)
    raise TypeError(f"expected a btcfit.Problem or a deck path, not {type(entry).__name__}")


def _bar(progress, total):
    """A tqdm bar on stderr when progress is True and stderr is a terminal."""
    if progress is not True:
        return None
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    # disable=None: tqdm draws only when stderr is a terminal.
    return tqdm(total=total, unit="fit", desc="btcfit", file=sys.stderr, disable=None,
                dynamic_ncols=True)


def fit_many(problems, executor=None, threads_per_fit=1, progress=True, *, method="annealing",
             numerics=None, seed=1):
    """Fits many problems at once and returns one entry per problem, in input
    order: the :class:`FitResult`, or the exception that problem's fit raised
    (one bad problem never stops the others).

    Args:
        problems: :class:`Problem` objects and/or deck paths (str or
            PathLike). Decks are read here, on the calling machine, so a bad
            deck's entry is its :class:`DeckError`; problems travel to the
            executor pickled.
        executor: any ``concurrent.futures.Executor``. Default: a thread
            pool with one fit per ``threads_per_fit`` usable cores (the
            engine releases the GIL, so threads run in parallel). A
            ``ProcessPoolExecutor`` or a Dask cluster's executor
            (``dask.distributed.Client(...).get_executor()``) runs the same
            fits in other processes or on other machines; btcfit must be
            importable there.
        threads_per_fit: threads of each fit (0: all cores of the machine
            the fit runs on). One thread per fit gives the most fits per
            second; the results do not depend on it.
        progress: True: a tqdm progress bar on standard error with the fits
            done, the fits failed and the time left, drawn only when
            standard error is a terminal (and tqdm is installed). False: no
            bar. A callable: called with the index of each problem as its
            fit ends, on the calling thread, instead of the bar.
        method, numerics, seed: those of :func:`fit`, for every fit.

    Ctrl-C stops the fits that have not started and, with the default
    executor, those running, then raises ``KeyboardInterrupt``.
    """
    from . import Error
    problems = list(problems)
    results = [None] * len(problems)
    bar = _bar(progress, len(problems))
    notify = progress if callable(progress) else None
    failed = 0

    def finished(index, entry):
        nonlocal failed
        results[index] = entry
        if isinstance(entry, BaseException):
            failed += 1
        if bar is not None:
            bar.set_postfix(failed=failed, refresh=False)
            bar.update(1)
        if notify is not None:
            notify(index)

    own = executor is None
    cancel = threading.Event() if own else None
    if own:
        from . import usable_threads
        workers = max(1, usable_threads() // threads_per_fit) if threads_per_fit > 0 else 1
        executor = concurrent.futures.ThreadPoolExecutor(max_workers=workers,
                                                         thread_name_prefix="btcfit")
    futures = {}
    try:
        for index, entry in enumerate(problems):
            try:
                problem = _read(entry)
            except (Error, TypeError) as e:
                finished(index, e)
                continue
            options = dict(method=method, numerics=numerics, seed=seed)
            args = (problem, threads_per_fit, options) + ((cancel,) if own else ())
            futures[executor.submit(_fit_one, *args)] = index
        # Short waits, so that Ctrl-C is seen between them.
        pending = set(futures)
        while pending:
            done, pending = concurrent.futures.wait(
                pending, timeout=0.1, return_when=concurrent.futures.FIRST_COMPLETED)
            for future in sorted(done, key=futures.get):
                try:
                    entry = future.result()
                except Exception as e:  # the fit's own error is the entry
                    entry = e
                finished(futures[future], entry)
    except BaseException:
        if cancel is not None:
            cancel.set()
        for future in futures:
            future.cancel()
        raise
    finally:
        if own:
            executor.shutdown(wait=True, cancel_futures=True)
        if bar is not None:
            bar.close()
    return results
