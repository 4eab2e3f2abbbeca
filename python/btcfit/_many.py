"""Many fits at once: btcfit.fit_many."""


def fit_many(problems, executor=None, threads_per_fit=1, progress=True):
    raise NotImplementedError
