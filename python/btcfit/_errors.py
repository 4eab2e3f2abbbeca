"""Exceptions of btcfit: every error the library reports on purpose."""


class Error(Exception):
    """Base of the errors btcfit raises on purpose."""


class DeckError(Error, ValueError):
    """An input deck that cannot be read.

    The message names the record and the columns as the console program
    prints them, e.g. ``unit 5 (column.in): unreadable integer in columns
    11-20 of record 2: "1.0"``.

    Attributes:
        record: the deck's record, counted from 1 (0: the file as a whole).
        first_column, last_column: the columns of the field at fault,
            counted from 1 (0 when no single field is at fault).
    """

    def __init__(self, message, record=0, first_column=0, last_column=0):
        super().__init__(message, record, first_column, last_column)
        self.message = message
        self.record = record
        self.first_column = first_column
        self.last_column = last_column

    def __str__(self):
        return self.message


class ProblemError(Error, ValueError):
    """A problem that btcfit refuses to evaluate or fit.

    For example a model code outside 1..8, a coefficient count that does not
    match the model, observations of unequal length or not finite, or search
    bounds that exclude a varied coefficient. The message names the item,
    its value and what would be accepted.
    """


class Cancelled(Error):
    """A fit stopped by its cancel flag for a reason other than Ctrl-C."""


class DeckRoundingWarning(UserWarning):
    """Values of a problem written to a deck rounded to what the deck's
    10-column fields hold (see :meth:`Problem.to_deck`)."""
