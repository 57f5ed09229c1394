// OLE Automation against an object every Windows (and Wine) has.
#include "untAutomation.h"

#include <gtest/gtest.h>

namespace {

class AutomationTest : public ::testing::Test {
protected:
    TAutomationScope Scope;
    TAutoObject Dictionary = TAutoObject::Create("Scripting.Dictionary");
};

// Runs Call, which must fail with EOleError, and returns its text.
template <class TCall> std::string OleFailure(uint32_t Result, TCall Call) {
    try {
        Call();
    } catch (const EOleError& E) {
        EXPECT_EQ(E.Result, Result) << E.what();
        return E.what();
    }
    ADD_FAILURE() << "no EOleError";
    return {};
}

} // namespace

TEST_F(AutomationTest, PropertyWriteIsReadBack) {
    ASSERT_FALSE(Dictionary.IsEmpty());
    Dictionary.Put("CompareMode", 1);
    EXPECT_EQ(Dictionary.Get("CompareMode").AsInt32(), 1);
    Dictionary.Put("CompareMode", 0);
    EXPECT_EQ(Dictionary.Get("CompareMode").AsInt32(), 0);
}

TEST_F(AutomationTest, MethodWithoutArgumentsGivesAnInteger) {
    const TAutoValue Count = Dictionary.Get("Count");
    ASSERT_TRUE(std::holds_alternative<int64_t>(Count.Storage()));
    EXPECT_EQ(Count.AsInt32(), 0);
}

TEST_F(AutomationTest, CopiesShareTheObject) {
    TAutoObject Copy = Dictionary;
    Dictionary.Clear();
    Copy.Put("CompareMode", 1);
    EXPECT_EQ(Copy.Get("CompareMode").AsInt32(), 1);
    EXPECT_THROW(Dictionary.Get("Count"), std::logic_error);
}

TEST_F(AutomationTest, ArrayResultIsAConversionFailure) {
    // Keys is an array of variants: it has no simple value.
    try {
        Dictionary.Get("Keys");
        ADD_FAILURE() << "an array passed for a simple value";
    } catch (const EConvertError& E) {
        EXPECT_NE(std::string(E.what()).find("0x200C"), std::string::npos) << E.what();
    }
}

TEST_F(AutomationTest, UnknownMemberNamesCodeAndMember) {
    const std::string Text =
        OleFailure(HR_DISP_E_UNKNOWNNAME, [&] { Dictionary.Get("НетТакого"); });
    EXPECT_NE(Text.find("0x80020006"), std::string::npos) << Text;
    EXPECT_NE(Text.find("DISP_E_UNKNOWNNAME"), std::string::npos) << Text;
    EXPECT_NE(Text.find("НетТакого"), std::string::npos) << Text;
}

TEST_F(AutomationTest, WrongArgumentCountIsReported) {
    // Item needs a key.
    const std::string Text = OleFailure(HR_DISP_E_BADPARAMCOUNT, [&] { Dictionary.Get("Item"); });
    EXPECT_NE(Text.find("0x8002000E"), std::string::npos) << Text;
}

TEST(Automation, UnknownProgIdNamesCodeAndProgId) {
    TAutomationScope Scope;
    const std::string Text =
        OleFailure(HR_CO_E_CLASSSTRING, [] { TAutoObject::Create("Нет.Такого.Класса"); });
    EXPECT_NE(Text.find("0x800401F3"), std::string::npos) << Text;
    EXPECT_NE(Text.find("CO_E_CLASSSTRING"), std::string::npos) << Text;
    EXPECT_NE(Text.find("Нет.Такого.Класса"), std::string::npos) << Text;
}

TEST(Automation, ScopesNest) {
    TAutomationScope Outer;
    { TAutomationScope Inner; }
    // The inner scope's end must not have ended the outer one.
    EXPECT_FALSE(TAutoObject::Create("Scripting.Dictionary").IsEmpty());
}
