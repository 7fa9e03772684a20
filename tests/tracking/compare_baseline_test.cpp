#include "tracking/compare_baseline.h"

#include "core/source_document.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace pellix {
namespace {

std::string message_of(const std::u16string& text) {
    try {
        make_compare_baseline(text);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return "(no exception)";
}

TEST(CompareBaseline, LengthLimitAtItsEdge) {
    std::u16string text(document_limit, u'a');
    EXPECT_EQ(make_compare_baseline(text).text.size(), document_limit);
    text += u'a';
    EXPECT_EQ(message_of(text), "Compare baseline exceeds the editor limit.");
}

TEST(CompareBaseline, LineBreaksBecomeLineFeeds) {
    EXPECT_EQ(make_compare_baseline(u"a\r\nb\rc").text, u"a\nb\nc");
    EXPECT_EQ(make_compare_baseline(u"\r\n\r\n").text, u"\n\n");
    EXPECT_EQ(make_compare_baseline(u"\r\r\n").text, u"\n\n");
    EXPECT_EQ(make_compare_baseline(u"").text, u"");
}

TEST(CompareBaseline, UnpairedSurrogatesAreRefused) {
    EXPECT_EQ(message_of(u"a\xDC00"), "Invalid UTF-16 surrogate.");
    EXPECT_EQ(message_of(u"a\xD800"), "Incomplete UTF-16 surrogate pair.");
    EXPECT_EQ(make_compare_baseline(u"\xD83D\xDE00").text, u"\xD83D\xDE00");
    auto shared = std::make_shared<const CompareBaseline>(make_compare_baseline(u"x"));
    EXPECT_EQ(shared->text, u"x");
}

} // namespace
} // namespace pellix
