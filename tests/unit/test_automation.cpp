// Values of late-bound calls and the texts of their failures, alike on every
// system.
#include "Failure.h"
#include "untAutomation.h"
#ifndef _WIN32
#include "untAutoRegistry.h"
#endif

#include <gtest/gtest.h>

namespace {

// The number, or the text of the refusal.
std::string Converted(const TAutoValue& Value) try {
    return std::to_string(Value.AsInt32());
} catch (const EConvertError& E) {
    return E.what();
}

TEST(Automation, ValuesConvertToInt32OrFailWithTheirText) {
    const struct {
        TAutoValue Value;
        std::string Converted;
    } Cases[] = {
        {-7, "-7"},
        {" -2147483648\t", "-2147483648"},
        {"2147483648", "Значение \"2147483648\" не является допустимым целым числом"},
        {"12abc", "Значение \"12abc\" не является допустимым целым числом"},
        {" ", "Значение \" \" не является допустимым целым числом"},
        {{}, "Значение (пусто) не является допустимым целым числом"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(Converted(C.Value), C.Converted);
    EXPECT_EQ(TAutoValue(-7).AsString(), "-7"); // as the driver's dialog shows a number
}

// Where the system has no words for a code, ours name it; where it has no
// OLE, a class nobody registered fails as creating it fails under Windows.
TEST(Automation, FailureTextsNameTheCodeWhereTheSystemHasNoWords) {
    EXPECT_EQ(OleErrorText(hrClassNotReg, "Class not registered"),
              "Class not registered (0x80040154 REGDB_E_CLASSNOTREG)");
    EXPECT_EQ(OleErrorText(0x8007000Eu), "Ошибка OLE (0x8007000E)");
#ifndef _WIN32
    // Also once its class has gone.
    RegisterAutoClass("Addin.Nobody", [] { return std::shared_ptr<TAutoServer>(); });
    UnregisterAutoClass("Addin.Nobody");
    EXPECT_STREQ(FailureOf<EOleError>([] { TAutoObject::Create("Addin.Nobody"); }).what(),
                 "Недопустимая строка с указанием класса (0x800401F3 CO_E_CLASSSTRING): "
                 "\"Addin.Nobody\"");
#endif
}

} // namespace
