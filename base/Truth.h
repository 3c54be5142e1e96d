#pragma once

#include <cstdint>

// Truth values as the ledger shows them.
constexpr std::int16_t True = -1;
constexpr std::int16_t False = 0;
