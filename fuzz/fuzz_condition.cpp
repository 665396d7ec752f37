// A model filter is an expression with variable references ("$0.0") filled in from a
// device's discovery reply, then evaluated. Both the filter (a settings file) and the
// values (any device on the LAN) are outside the program's control.

#include "FuzzSupport.h"
#include "common/VxCondition.h"
#include "common/VxError.h"
#include "nimp/VxNIMPVarList.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    VxNIMPVarList vars(NimpDiscoveryTable);
    vars.Append(NimpVersionTable);
    vars.Append(NimpIPTable);
    for (int i = 0; i < vars.Count(); ++i) {
        VxNIMPVar& var = vars.Item(i);
        var.value = FuzzText(QByteArray::fromStdString(in.ConsumeRandomLengthString(64)));
        if (var.sub) {
            for (int j = 0; j < var.sub->Count(); ++j)
                var.sub->Item(j).value =
                    FuzzText(QByteArray::fromStdString(in.ConsumeRandomLengthString(64)));
        }
    }
    const QString expression = FuzzText(QByteArray::fromStdString(in.ConsumeRemainingBytesAsString()));

    QString substituted;
    try {
        substituted = Substitute(expression, vars);
    } catch (const VxError& e) {
        FUZZ_CHECK(e.code() == NIMP_ERR_BAD_REFERENCE);
        substituted = expression;
    }
    if (!expression.contains(QLatin1Char('$')))
        FUZZ_CHECK(substituted == expression);
    try {
        EvaluateCondition(substituted);
    } catch (const VxError& e) {
        FUZZ_CHECK(e.code() == kBadLogicOperandCode);
    }
    return 0;
}
