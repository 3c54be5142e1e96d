#pragma once

#include <QString>

// A drop-down list too long to hold at once (a hundred thousand products):
// it reads only the rows its filter selects, more as the view scrolls.
class ListFilter {
  public:
    virtual ~ListFilter() = default;
    // The rows whose entry begins with prefix; every row when it is empty.
    virtual void filterTo(const QString& prefix) = 0;
    // Every row, the first ones shown being those near `entry`.
    virtual void startAt(const QString& entry) = 0;
};
