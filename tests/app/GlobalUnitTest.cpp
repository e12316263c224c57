#include "app/GlobalUnit.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct GuardCase {
    const char* property;
    std::function<void(TGlobalObject&, const QString&)> set;
    std::function<QString(const TGlobalObject&)> get;
    QString rejected; // longest value the guard refuses
    QString accepted; // shortest value it takes
};

TEST(GlobalObject, SettersIgnoreValuesThatFailTheirGuard) {
    const std::vector<GuardCase> cases = {
        {"SettingsFile", &TGlobalObject::SetSettingsFile, &TGlobalObject::SettingsFile, "abc",
         "abcd"},
        {"FormatFile", &TGlobalObject::SetFormatFile, &TGlobalObject::FormatFile, "a:\\", "a:\\x"},
        {"HelpURL", &TGlobalObject::SetHelpURL, &TGlobalObject::HelpURL, "", "h"},
        {"ProductTitle", &TGlobalObject::SetProductTitle, &TGlobalObject::ProductTitle, "", "T"},
        {"VersionText", &TGlobalObject::SetVersionText, &TGlobalObject::VersionText, "", " "},
        {"WebSiteURL", &TGlobalObject::SetWebSiteURL, &TGlobalObject::WebSiteURL, "", "w"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.property);
        TGlobalObject g;
        c.set(g, "previous value");
        c.set(g, c.rejected);
        EXPECT_EQ(c.get(g), "previous value");
        c.set(g, c.accepted);
        EXPECT_EQ(c.get(g), c.accepted);
    }
}

TEST(GlobalObject, RightCharsTakesTheTail) {
    struct {
        QString text;
        int n;
        QString expected;
    } const cases[] = {
        {"/home/user/", 1, "/"}, {"abc", 5, "abc"}, {"abc", 3, "abc"},
        {"abc", 0, ""},          {"", 1, ""},       {"abc", -2, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TGlobalObject::RightChars(c.text, c.n), c.expected) << c.text.toStdString();
}

TEST(GlobalObject, FileVersionTextIsTheCompiledVersionInTheShortForm) {
    TGlobalObject g;
    EXPECT_EQ(g.FileVersionText(), " 1.100 ");
}

} // namespace
