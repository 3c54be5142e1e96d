#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

// What kind of failure stopped a database step, set where it happened.
enum class ErrorKind {
    Other,
    Busy,     // another program holds a lock
    Foreign,  // not a Stolva database, or damaged
    Newer,    // made by a newer Stolva
    Io,       // the file or folder cannot be read or written
    Conflict, // what was read has been changed since; nothing was overwritten
    Closed,   // the count of that date is closed
    Unsure    // the connection went during a commit: whether it was written is not known
};

// Outcome of an operation: ok, or the reason it was not done.
struct Status {
    bool ok = true;
    QString error;
    ErrorKind kind = ErrorKind::Other;
    static Status failed(const QString& e, ErrorKind k = ErrorKind::Other) {
        return Status{false, e, k};
    }
    explicit operator bool() const { return ok; }
};

// The outcome of an operation that gives a value: the value, or the reason.
template <typename T> struct Result {
    Status status;
    T value{};
    explicit operator bool() const { return status.ok; }
    const QString& error() const { return status.error; }
};

using Row = QVector<QVariant>;
using Rows = QVector<Row>;
