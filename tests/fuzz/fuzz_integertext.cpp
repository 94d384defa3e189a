// Fuzz target: the integer conversion of the store against an independent model of its rules.
#include "FuzzSupport.h"
#include "IntegerTextModel.h"
#include "store/IntegerText.h"

namespace {

std::string shown(const std::optional<qint32> &value)
{
    return value ? std::to_string(*value) : std::string("(no value)");
}

void check(const QString &text)
{
    const std::optional<qint32> expected = model::integerFromText(fuzz::viewOf(text));
    const std::optional<qint32> actual = integerFromText(text);
    if (expected != actual)
        fuzz::mismatch("integerFromText", fuzz::escaped(text), shown(expected), shown(actual));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(fuzz::utf8FromBytes(data, size));
    check(fuzz::utf16FromBytes(data, size));
    return 0;
}
