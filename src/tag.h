// The tag that marks an instrument block: what the scan looks for and the dump reads again.
#pragma once

#include <cstdint>

constexpr char SCAN_TAG[] = "SNDF";
constexpr std::int64_t TAG_LENGTH = sizeof SCAN_TAG - 1;
