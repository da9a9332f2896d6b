#include "DisplayText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Styled {
    std::uint32_t style;
    const char* text;
};

std::string TextOf(gq::DisplayText& display, gq::CellKind kind, std::uint32_t style, double number,
                   std::string_view text = {}) {
    gq::Cell cell;
    cell.kind = kind;
    cell.style = style;
    cell.number = number;
    cell.text = text;
    std::string out;
    display.textOf(cell, out);
    return out;
}

TEST(DisplayText, BooleansShowThroughTheTextSectionAsTextDoes) {
    gq::StyleTable styles;
    for (const char* code :
         {"General", R"(_("$"* #,##0.00_);_("$"* \(#,##0.00\);_("$"* "-"??_);_(@_))", "0.00",
          R"(0;0;0;"["@"]")", ";;;",
          "[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General\\ "})
        styles.addStyle(code);
    gq::DisplayText display(styles);
    const Styled falseShown[] = {
        {0, "FALSE"}, {1, " FALSE "}, {2, "FALSE"},  {3, "[FALSE]"},
        {4, ""},      {5, "FALSE "},  {99, "FALSE"}, // a style the reader did not list is General
    };
    for (const Styled& s : falseShown)
        EXPECT_EQ(TextOf(display, gq::CellKind::Boolean, s.style, 0), s.text) << s.style;
    EXPECT_EQ(TextOf(display, gq::CellKind::Boolean, 1, 1), " TRUE ");
    EXPECT_EQ(TextOf(display, gq::CellKind::String, 1, 0, "abc"), " abc ");
    EXPECT_EQ(TextOf(display, gq::CellKind::String, 5, 0, "foo"), "foo ");
    // Numbers and errors keep their own texts under the same formats.
    EXPECT_EQ(TextOf(display, gq::CellKind::Number, 1, -1234.5), " $(1,234.50)");
    EXPECT_EQ(TextOf(display, gq::CellKind::Error, 1, 0, "#N/A"), "#N/A");
}

} // namespace
