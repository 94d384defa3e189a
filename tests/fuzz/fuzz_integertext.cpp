// Fuzz target: the integer conversions of the store (32 and 64 bits) against an independent model
// of their rules.
#include "FuzzSupport.h"
#include "IntegerTextModel.h"
#include "store/IntegerText.h"

namespace {

template<typename Integer> std::string shown(const std::optional<Integer> &value)
{
    return value ? std::to_string(*value) : std::string("(no value)");
}

void check(const QString &text)
{
    const std::optional<qint32> expected = model::integerFromText(fuzz::viewOf(text));
    const std::optional<qint32> actual = integerFromText(text);
    if (expected != actual)
        fuzz::mismatch("integerFromText", fuzz::escaped(text), shown(expected), shown(actual));
    const std::optional<qint64> expectedLarge = model::largeIntegerFromText(fuzz::viewOf(text));
    const std::optional<qint64> actualLarge = largeIntegerFromText(text);
    if (expectedLarge != actualLarge)
        fuzz::mismatch("largeIntegerFromText", fuzz::escaped(text), shown(expectedLarge),
                       shown(actualLarge));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(fuzz::utf8FromBytes(data, size));
    check(fuzz::utf16FromBytes(data, size));
    return 0;
}
