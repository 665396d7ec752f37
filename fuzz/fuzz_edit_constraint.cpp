// Constraint texts come from layout files; parsing any text must give a constraint or
// raise the bad-format error, and the number lists of the fields must read any text.

#include "FuzzSupport.h"
#include "common/VxError.h"
#include "common/ui/VxEditConstraint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = FuzzText(FuzzBytes(data, size));
    try {
        const _EditConstraint_s c = ParseEditConstraint(text);
        FUZZ_CHECK(c.maxLength >= 0);
    } catch (const VxError& e) {
        FUZZ_CHECK(e.code() == kBadConstraintCode);
    }
    VxNumList list;
    list.Parse(text);
    FUZZ_CHECK(list.count == int(list.numbers.size()));
    return 0;
}
