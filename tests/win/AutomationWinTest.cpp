// OLE Automation against an object every Windows (and Wine) has.
#include "../support/Failure.h"
#include "untAutomation.h"

#include <gtest/gtest.h>

TEST(Automation, DictionaryMembersAndFailures) {
    TAutomationScope Scope;
    TAutoObject Dictionary = TAutoObject::Create("Scripting.Dictionary");
    Dictionary.Put("CompareMode", 1);
    EXPECT_EQ(Dictionary.Get("CompareMode").AsInt32(), 1);
    // Keys is an array of variants: it has no simple value.
    EXPECT_THROW(Dictionary.Get("Keys"), EConvertError);
    // A failure names its code, the code's name and what was asked for.
    const EOleError Failures[] = {
        FailureOf<EOleError>([&] { Dictionary.Get("НетТакого"); }),
        FailureOf<EOleError>([] { TAutoObject::Create("Нет.Такого.Класса"); })};
    EXPECT_EQ(Failures[0].Result, hrUnknownName);
    EXPECT_EQ(Failures[1].Result, hrClassString);
    for (const char* Part : {"0x80020006 DISP_E_UNKNOWNNAME", "НетТакого"})
        EXPECT_NE(std::string(Failures[0].what()).find(Part), std::string::npos)
            << Failures[0].what();
    for (const char* Part : {"0x800401F3 CO_E_CLASSSTRING", "Нет.Такого.Класса"})
        EXPECT_NE(std::string(Failures[1].what()).find(Part), std::string::npos)
            << Failures[1].what();
}
