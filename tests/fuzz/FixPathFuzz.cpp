// Path tidying on any text, with either system's separator and leading run. What it must keep:
// every character that is not a separator, in order; a leading run of exactly the chosen length;
// and every other run of n separators as ceil(n / 2) of them.

#include "FixPath.h"
#include "FuzzCheck.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// The lengths of the runs of separators in text, in order, with whether text starts with one.
std::vector<qsizetype> SeparatorRuns(const QString& text, QChar separator)
{
    std::vector<qsizetype> runs;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] != separator) {
            ++i;
            continue;
        }
        qsizetype n = 0;
        while (i < text.size() && text[i] == separator) {
            ++n;
            ++i;
        }
        runs.push_back(n);
    }
    return runs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QChar separator = (data[0] & 1) ? u'\\' : u'/';
    const int leadingRun = (data[0] & 2) ? 2 : 1;
    // Half the inputs as UTF-16 (any character, broken surrogates too), half as UTF-8.
    const QString path = (data[0] & 4)
                             ? QString(reinterpret_cast<const QChar*>(data + 1), qsizetype((size - 1) / 2))
                             : QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString fixed = FixPathWith(path, separator, leadingRun);

    FUZZ_CHECK(QString(fixed).remove(separator) == QString(path).remove(separator));
    std::vector<qsizetype> runs = SeparatorRuns(path, separator);
    const std::vector<qsizetype> fixedRuns = SeparatorRuns(fixed, separator);
    FUZZ_CHECK(runs.size() == fixedRuns.size());
    const bool leading = path.startsWith(separator);
    FUZZ_CHECK(fixed.startsWith(separator) == leading);
    for (std::size_t r = 0; r < runs.size(); ++r)
        FUZZ_CHECK(fixedRuns[r] == (leading && r == 0 ? leadingRun : (runs[r] + 1) / 2));
    return 0;
}
