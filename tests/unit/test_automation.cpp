// Values of late-bound calls and the texts of their failures, alike on every
// system.
#include "Failure.h"
#include "untAutomation.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

TEST(Automation, ValuesConvertToInt32OrFailWithTheirText) {
    for (const TAutoValue& Min :
         {TAutoValue(int64_t{INT32_MIN}), TAutoValue(-2147483648.0), TAutoValue("-2147483648")})
        EXPECT_EQ(Min.AsInt32(), INT32_MIN) << Min.AsString();
    EXPECT_EQ(TAutoValue(" 42 ").AsInt32(), 42);
    EXPECT_EQ(TAutoValue(true).AsInt32(), -1);
    EXPECT_EQ(TAutoValue(2.5).AsInt32(), 2); // halves to even
    for (const TAutoValue& Bad : {TAutoValue(int64_t{1} << 31), TAutoValue("12abc"), TAutoValue(""),
                                  TAutoValue(), TAutoValue(1e10), TAutoValue("+-1")}) {
        EXPECT_THROW(Bad.AsInt32(), EConvertError) << Bad.AsString();
    }
    EXPECT_STREQ(FailureOf<EConvertError>([] { TAutoValue("abc").AsInt32(); }).what(),
                 "Значение \"abc\" не является допустимым целым числом");
}

TEST(Automation, FailureTextsNameTheCodeWhereTheSystemHasNoWords) {
    EXPECT_EQ(OleErrorText(hrClassNotReg, "Class not registered"),
              "Class not registered (0x80040154 REGDB_E_CLASSNOTREG)");
    EXPECT_EQ(OleErrorText(0x8007000Eu), "Ошибка OLE (0x8007000E)");
}

} // namespace
