#pragma once

// The results website's home page (scheme and host), opened by the
// "Benchmark Website" button.
inline constexpr char kBenchmarkWebsiteUrl[] = "https://www.chipledger.example";
