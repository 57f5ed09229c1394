// OLE Automation against an object every Windows (and Wine) has.
#include "untAutomation.h"

#include <gtest/gtest.h>

namespace {

// Runs Call, which must fail with EOleError of Result naming all of Parts.
template <class TCall>
void ExpectOleFailure(uint32_t Result, std::initializer_list<const char*> Parts, TCall Call) {
    try {
        Call();
        ADD_FAILURE() << "no EOleError";
    } catch (const EOleError& E) {
        EXPECT_EQ(E.Result, Result) << E.what();
        for (const char* Part : Parts)
            EXPECT_NE(std::string(E.what()).find(Part), std::string::npos) << E.what();
    }
}

} // namespace

TEST(Automation, DictionaryMembersAndFailures) {
    TAutomationScope Scope;
    TAutoObject Dictionary = TAutoObject::Create("Scripting.Dictionary");
    Dictionary.Put("CompareMode", 1);
    EXPECT_EQ(Dictionary.Get("CompareMode").AsInt32(), 1);
    // Keys is an array of variants: it has no simple value.
    EXPECT_THROW(Dictionary.Get("Keys"), EConvertError);
    ExpectOleFailure(hrUnknownName, {"0x80020006", "DISP_E_UNKNOWNNAME", "НетТакого"},
                     [&] { Dictionary.Get("НетТакого"); });
    ExpectOleFailure(hrClassString, {"0x800401F3", "CO_E_CLASSSTRING", "Нет.Такого.Класса"},
                     [] { TAutoObject::Create("Нет.Такого.Класса"); });
}
