#include <gtest/gtest.h>

#include <set>

#include "tools/sample_site/sample_documents.h"

using namespace sample_site;

namespace {

TEST(SampleSiteTest, RecognisesTheProgramsRequestsOnly) {
    const auto topic =
        ParseRequest("GET http://127.0.0.1/Expert/topic/1318/1318001.xml HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(topic);
    EXPECT_EQ(topic->series, Series::kTopic);
    EXPECT_EQ(topic->number, 1318001);
    const auto article =
        ParseRequest("GET /develop/article/1/1001.shtm HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(article);
    EXPECT_EQ(article->series, Series::kArticle);
    EXPECT_FALSE(ParseRequest("GET http://h/a/2/1001.xml HTTP/1.0\r\n\r\n"));  // wrong folder
    EXPECT_FALSE(ParseRequest("GET http://h/a/1/1001.htm HTTP/1.0\r\n\r\n"));
    EXPECT_FALSE(ParseRequest("POST http://h/a/1/1001.xml HTTP/1.0\r\n\r\n"));
}

TEST(SampleSiteTest, DocumentsAreDeterministicAndVaried) {
    EXPECT_EQ(Document(Series::kTopic, 5), Document(Series::kTopic, 5));
    EXPECT_NE(Document(Series::kTopic, 5), Document(Series::kArticle, 5));
    std::set<std::size_t> sizes;
    for (int n = 0; n < 50; ++n) {
        sizes.insert(Document(Series::kArticle, n).size());
    }
    EXPECT_GT(sizes.size(), 20u);
    EXPECT_EQ(Document(Series::kTopic, 7).rfind("<?xml", 0), 0u);
}

TEST(SampleSiteTest, FaultRulesByRemainder) {
    std::vector<FaultRule> rules;
    ASSERT_TRUE(ParseFaultRules(kDefaultFaultRules, rules));
    EXPECT_EQ(FaultFor(rules, 1318013), Fault::kNotFound);
    EXPECT_EQ(FaultFor(rules, 42), Fault::kRedirect);
    EXPECT_EQ(FaultFor(rules, 177), Fault::kShortBody);
    EXPECT_EQ(FaultFor(rules, 99), Fault::kStall);
    EXPECT_EQ(FaultFor(rules, -23), Fault::kShortBody);  // remainders count up from the floor
    EXPECT_EQ(FaultFor(rules, 1), Fault::kNone);
    EXPECT_TRUE(ParseFaultRules("none", rules));
    EXPECT_TRUE(rules.empty());
    EXPECT_FALSE(ParseFaultRules("500:1", rules));
    EXPECT_FALSE(ParseFaultRules("404:100", rules));
    EXPECT_FALSE(ParseFaultRules("404:", rules));
}

}  // namespace
