// OLE Automation where the stand-in's server cannot reach: a value with no
// simple form, from an object every Windows (and Wine) has. Creating, calling,
// setting and failed calls are the stand-in's tests and the end-to-end
// scenarios'.
#include "untAutomation.h"

#include <gtest/gtest.h>

TEST(Automation, ArraysFail) {
    TAutomationScope Scope;
    // Keys is an array of variants.
    EXPECT_THROW(TAutoObject::Create("Scripting.Dictionary").Get("Keys"), EConvertError);
}
