// The scrambling of the remembered samples, both ways, on any text and key. The first byte gives
// the key's length; the key is read as code-page characters and the text after it as UTF-16, so
// that characters outside the code page (which count as "?") turn up too.

#include "AnsiCodec.h"
#include "EventPump.h"
#include "FuzzCheck.h"
#include "SampleFiles.h"

#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

class CountingPump final : public EventPump
{
public:
    void processEvents() override { ++calls; }
    void waitForEvents() override { ++calls; }
    void wake() override {}
    qsizetype calls = 0;
};

int CodePageValue(QChar c)
{
    const int value = AnsiCodec::fromUnicode(c.unicode());
    return value < 0 ? '?' : value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t keyLength = std::min<std::size_t>(data[0] % 17, size - 1);
    const QString key = AnsiCodec::decode(QByteArrayView(data + 1, qsizetype(keyLength)));
    const std::uint8_t* rest = data + 1 + keyLength;
    const QString text(reinterpret_cast<const QChar*>(rest), qsizetype((size - 1 - keyLength) / 2));

    CountingPump events;
    const Result<QString> scrambled = ScrambleText(text, key, events);
    if (text.size() > 32767) {
        FUZZ_CHECK(!scrambled && scrambled.failure().description == QStringLiteral("Overflow"));
        return 0;
    }
    if (key.isEmpty() && !text.isEmpty()) {
        FUZZ_CHECK(!scrambled && scrambled.failure().description == QStringLiteral("Division by zero"));
        return 0;
    }
    FUZZ_CHECK(scrambled && scrambled->size() == text.size());
    FUZZ_CHECK(events.calls == text.size());
    // The scrambled text stays inside the code page, away from its zero byte, so it survives
    // being written to the settings file and read back; only a zero shifted by a zero (which
    // the program's own key never holds) stays zero.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int value = AnsiCodec::fromUnicode(scrambled->at(i).unicode());
        if (CodePageValue(text[i]) == 0 && CodePageValue(key[i % key.size()]) == 0)
            FUZZ_CHECK(value == 0);
        else
            FUZZ_CHECK(value >= 1 && value <= 255);
    }

    const Result<QString> back = UnscrambleText(*scrambled, key, events);
    FUZZ_CHECK(back && back->size() == text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int value = CodePageValue(text[i]);
        if (value == 0)
            continue; // the one value outside 1..255 comes back as 255
        FUZZ_CHECK(CodePageValue(back->at(i)) == value);
    }
    return 0;
}
