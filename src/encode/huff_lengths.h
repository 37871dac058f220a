// Huffman code lengths limited to a maximum length, and the canonical codes that the
// decoder assigns to them (by length, then by symbol value).
#pragma once

#include <cstdint>

// Optimal code lengths (package-merge) for n symbols with the given frequencies, no length
// above max_len. Symbols with frequency 0 get length 0; a lone used symbol gets length 1.
// Requires the number of used symbols to be at most 2^max_len.
void huff_limited_lengths(const uint32_t* freq, int n, int max_len, uint8_t* lengths);

// Canonical codes for the lengths (codes are right-aligned in `codes`).
void huff_canonical_codes(const uint8_t* lengths, int n, uint16_t* codes);

// Total bits of coding the frequencies with the lengths; a used symbol without a code
// makes the result UINT64_MAX.
uint64_t huff_cost(const uint32_t* freq, const uint8_t* lengths, int n);
