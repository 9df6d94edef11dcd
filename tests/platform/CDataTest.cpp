#include "CData.h"

#include <gtest/gtest.h>

#include <string>

TEST(CData, StartsEmptyAndNeverHandsOutNull) {
    CData empty;
    ASSERT_NE(empty.c_str(), nullptr);
    EXPECT_STREQ(empty.c_str(), "");
    CData fromNull(static_cast<const char *>(nullptr));
    EXPECT_STREQ(fromNull.c_str(), "");
}

TEST(CData, AssignsAndAppendsText) {
    CData path("C:\\Windows");
    path += "/";
    path += "log.properties";
    EXPECT_STREQ(path.c_str(), "C:\\Windows/log.properties");
    path += nullptr;
    EXPECT_STREQ(path.c_str(), "C:\\Windows/log.properties");
    path = nullptr;
    EXPECT_STREQ(path.c_str(), "");
    path = "again";
    EXPECT_STREQ(path.c_str(), "again");
}

TEST(CData, CopiesAreIndependent) {
    CData a("first");
    CData b(a);
    CData c;
    c = a;
    a = "changed";
    EXPECT_STREQ(b.c_str(), "first");
    EXPECT_STREQ(c.c_str(), "first");
    c = c;
    EXPECT_STREQ(c.c_str(), "first");
}

TEST(CData, AssigningItsOwnTextIsSafe) {
    CData text("self reference");
    text = text.c_str() + 5;
    EXPECT_STREQ(text.c_str(), "reference");
    text += text.c_str();
    EXPECT_STREQ(text.c_str(), "referencereference");
}

TEST(CData, HoldsLongTexts) {
    std::string big(100000, 'x');
    CData text(big.c_str());
    text += big.c_str();
    EXPECT_EQ(std::string(text.c_str()), big + big);
}
