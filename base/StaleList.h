#pragma once

// A list rebuilt only when it is next looked at (the names a drop-down offers
// after the master changed): a view asks it to be fresh before showing it.
class StaleList {
  public:
    virtual ~StaleList() = default;
    // Rebuilds the list when its source changed since; false when that failed.
    virtual bool ensureFresh() = 0;
};
