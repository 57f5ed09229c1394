// Values of late-bound calls and the texts of their failures, alike on every
// system.
#include "Failure.h"
#include "untAutomation.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "untAutoRegistry.h"
#endif

namespace {

TEST(Automation, ValuesConvertToInt32OrFailWithTheirText) {
    const struct {
        TAutoValue Value;
        int32_t Number;
        const char* Failure; // nullptr: converts to Number
    } Cases[] = {
        {TAutoValue(-7), -7, nullptr},
        {TAutoValue(" -2147483648\t"), INT32_MIN, nullptr},
        {TAutoValue("2147483647"), INT32_MAX, nullptr},
        {TAutoValue("2147483648"), 0,
         "Значение \"2147483648\" не является допустимым целым числом"},
        {TAutoValue("12abc"), 0, "Значение \"12abc\" не является допустимым целым числом"},
        {TAutoValue(" "), 0, "Значение \" \" не является допустимым целым числом"},
        {TAutoValue(), 0, "Значение (пусто) не является допустимым целым числом"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Value.AsString());
        if (C.Failure) {
            EXPECT_STREQ(FailureOf<EConvertError>([&] { C.Value.AsInt32(); }).what(), C.Failure);
        } else {
            EXPECT_EQ(C.Value.AsInt32(), C.Number);
        }
    }
}

TEST(Automation, FailureTextsNameTheCodeWhereTheSystemHasNoWords) {
    EXPECT_EQ(OleErrorText(hrClassNotReg, "Class not registered"),
              "Class not registered (0x80040154 REGDB_E_CLASSNOTREG)");
    EXPECT_EQ(OleErrorText(0x8007000Eu), "Ошибка OLE (0x8007000E)");
}

#ifndef _WIN32
// Where the system has no OLE: a class nobody registered, and one that gives
// no object, fail as creating them fails under Windows.
TEST(Automation, CreatingWhatIsNotThereFails) {
    EXPECT_STREQ(FailureOf<EOleError>([] { TAutoObject::Create("Addin.Nobody"); }).what(),
                 "Недопустимая строка с указанием класса (0x800401F3 CO_E_CLASSSTRING): "
                 "\"Addin.Nobody\"");
    RegisterAutoClass("Addin.Nobody", [] { return nullptr; });
    EXPECT_EQ(FailureOf<EOleError>([] { TAutoObject::Create("Addin.Nobody"); }).Result,
              hrNoInterface);
    UnregisterAutoClass("Addin.Nobody");
}
#endif

} // namespace
