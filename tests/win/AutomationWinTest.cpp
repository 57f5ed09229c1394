// OLE Automation where the stand-in's server cannot reach: a value with no
// simple form, and a failed call's text, against an object every Windows (and
// Wine) has. Creating, calling and setting are the stand-in's tests and the
// end-to-end scenarios'.
#include "../support/Failure.h"
#include "untAutomation.h"

#include <gtest/gtest.h>

TEST(Automation, ArraysAndUnknownMembersFail) {
    TAutomationScope Scope;
    const TAutoObject Dictionary = TAutoObject::Create("Scripting.Dictionary");
    // Keys is an array of variants.
    EXPECT_THROW(Dictionary.Get("Keys"), EConvertError);
    const std::string Text = FailureOf<EOleError>([&] { Dictionary.Get("НетТакого"); }).what();
    EXPECT_NE(Text.find("(0x80020006 DISP_E_UNKNOWNNAME): \"НетТакого\""), std::string::npos)
        << Text;
}
