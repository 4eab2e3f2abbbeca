// Errors of the btcfit library.
//
// Every error the library reports is an exception derived from
// btcfit::Error. The library never ends the process, never writes to
// standard error and never touches a file it was not asked to read.
#pragma once

#include <stdexcept>
#include <string>

namespace btcfit {

// Base of every error the library throws on purpose. what() is a complete
// one-line message in the words the console program prints after
// "btcfit: ".
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A deck that cannot be read: a field that is not a number of its kind, a
// record missing at the end of the file, or a file that cannot be opened.
// what() names the record and the columns, for example
//   unit 5 (column.in): unreadable integer in columns 11-20 of record 2: "1.0"
class DeckError : public Error {
 public:
  // `record` counts the deck's records from 1 (0 when the error concerns
  // the file as a whole); `first_column`..`last_column` are the columns of
  // the field, counted from 1 (0 when no single field is at fault).
  DeckError(const std::string& message, int record, int first_column, int last_column)
      : Error(message), record_(record), first_column_(first_column), last_column_(last_column) {}
  int record() const { return record_; }
  int first_column() const { return first_column_; }
  int last_column() const { return last_column_; }

 private:
  int record_;
  int first_column_;
  int last_column_;
};

// A problem the library refuses to evaluate or fit: a model code outside
// 1..8, a deck with more observations or pulses than a deck holds, a
// coefficient count that does not match the model, values for which the
// model is not defined, bounds that cross or that the search could never
// satisfy, or values that are not numbers (check_problem lists them).
// what() names the offending item, its value and what would be accepted.
class ProblemError : public Error {
 public:
  using Error::Error;
};

// A fit stopped because its cancel flag was set.
class Cancelled : public Error {
 public:
  Cancelled() : Error("the fit was cancelled") {}
};

}  // namespace btcfit
