#pragma once

// The record file loaded at start-up when none is named, taken from the
// working directory.
inline constexpr const char* init_file = "ZD482_Inet.txt";
