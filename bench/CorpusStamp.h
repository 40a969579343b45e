#pragma once

#include <cstdint>
#include <string>

// The generator writes this stamp last and the runner compares it before reusing a corpus, so an
// interrupted or differently sized corpus is never measured by mistake. Bump kCorpusFormat whenever
// the generator's output changes, or old corpora lying in /tmp would be silently reused.
inline constexpr int kCorpusFormat = 1;
inline constexpr const char* kCorpusStampName = ".quillory-corpus";

inline std::string corpusStamp(unsigned files, unsigned bigMb, std::uint64_t seed)
{
    return "quillory-corpus format " + std::to_string(kCorpusFormat) + " files " + std::to_string(files) + " big-mb " +
           std::to_string(bigMb) + " seed " + std::to_string(seed) + "\n";
}
