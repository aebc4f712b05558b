// The template engine: tag syntax, parameters, quotes, URL decoding, and the tag handlers on a
// single page.
#include <gtest/gtest.h>

#include "portal/PortalTestSupport.h"
#include "portal/SuperPageProducer.h"

namespace {

struct TemplateTest : ::testing::Test, TPortalProject {
  // Renders descriptor Pg (template text Tmpl) as a top-level page of a check run.
  std::string Render(TJson pg, const std::string& tmpl, bool createFile = true) {
    Template("t.html", tmpl);
    pg["HTMLfile"] = "t.html";
    if (!pg.contains("PageName")) pg["PageName"] = "t";
    Gen->TemplatesFolder = Html() + "/";
    Gen->ServerID.clear();
    TSuperReference sr(&Op);
    return Gen->MakePage(Gen->Producer(), sr, pg, createFile);
  }
  std::string ErrorOf(TJson pg, const std::string& tmpl) {
    try {
      Render(std::move(pg), tmpl);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no error)";
  }
};

}  // namespace

TEST(TemplateText, LinesEndWithCrLfAndTheBomIsSkipped) {
  EXPECT_EQ(NormaliseTemplateText("\xEF\xBB\xBF" "a\nb"), "a\r\nb\r\n");
  EXPECT_EQ(NormaliseTemplateText("a\r\nb\rc\n"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(NormaliseTemplateText("a\n\nb"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(NormaliseTemplateText(""), "");
}

TEST(TemplateParams, QuotesPairFromTheEnd) {
  EXPECT_EQ(StripParamQuotes("text=\"a b\""), "text=a b");
  EXPECT_EQ(StripParamQuotes("text='x'"), "text=x");
  // A quote of the other kind inside a pair stays.
  EXPECT_EQ(StripParamQuotes("text=\"it's\""), "text=it's");
  EXPECT_EQ(StripParamQuotes("text='say \"hi'"), "text=say \"hi");
  // An unpaired quote stays; pairing starts at the end.
  EXPECT_EQ(StripParamQuotes("a\"b"), "a\"b");
  EXPECT_EQ(StripParamQuotes("\"a\"b\""), "\"ab");
}

TEST(TemplateParams, SplitAtBlanksKeepingDoubleQuotedParts) {
  EXPECT_EQ(SplitTagParams("  a=1   b=\"two words\" c "),
            (std::vector<std::string>{"a=1", "b=two words", "c"}));
  EXPECT_EQ(SplitTagParams("text=Hello+world%21 pct=100%%"),
            (std::vector<std::string>{"text=Hello world!", "pct=100%"}));
  EXPECT_TRUE(SplitTagParams("   ").empty());
  // Cyrillic text survives decoding, encoded or not.
  EXPECT_EQ(SplitTagParams("t=%D0%9F%D1%80 u=Пр"),
            (std::vector<std::string>{"t=Пр", "u=Пр"}));
}

TEST(TemplateParams, MalformedPercentSequencesAreErrors) {
  try {
    HTTPDecode("ab%4");
    FAIL();
  } catch (const ETemplateError& e) {
    EXPECT_STREQ(e.what(), "Error decoding URL style (%XX) encoded string at position 3");
  }
  try {
    HTTPDecode("%");
    FAIL();
  } catch (const ETemplateError& e) {
    EXPECT_STREQ(e.what(), "Error decoding URL style (%XX) encoded string at position 1");
  }
  try {
    HTTPDecode("x%zz");
    FAIL();
  } catch (const ETemplateError& e) {
    EXPECT_STREQ(e.what(), "Invalid URL encoded character (%zz) at position 2");
  }
}

TEST_F(TemplateTest, MalformedParameterStopsRendering) {
  EXPECT_EQ(ErrorOf(TJson::object(), "<#ifpage eq=a%G1>"),
            "Invalid URL encoded character (%G1) at position 5");
}

TEST_F(TemplateTest, TagWithoutDataIsRemoved) {
  EXPECT_EQ(Render(TJson::object(), "A<#text1>B<# unknown x=1>C<#image1>D<#ref1>E\n"),
            "ABCDE\r\n");
  // ">" inside quotes does not end the tag; a tag that never ends is plain text.
  EXPECT_EQ(Render(TJson::object(), "a<#text9 p='>'>b <#text9"), "ab <#text9\r\n");
}

TEST_F(TemplateTest, TextTags) {
  TJson pg = {{"text", TJson::parse(R"([["text1", "Hello"], ["text_2", null]])")}};
  EXPECT_EQ(Render(pg, "<#text1>|<#text_2>|<#  text1 a=b>"), "Hello||Hello\r\n");
  // Tag names are case-sensitive.
  EXPECT_EQ(Render(pg, "<#Text1>"), "\r\n");
}

TEST_F(TemplateTest, Text1IsNotResolvedByTheRefHandler) {
  Page("p1", {{"Name", "One"}, {"HTMLfile", "one.html"}});
  TJson pg = {{"Refs", {{"text1", Ref("WebPages", "p1"), "Caption"}}}};
  EXPECT_EQ(Render(pg, "[<#text1>]"), "[]\r\n");
}

TEST_F(TemplateTest, RefTagForms) {
  Page("p1", {{"Name", "One"}, {"HTMLfile", "dir\\News.HTML"}});
  TJson pg = {{"_ID", "me"},
              {"Refs", {{"ref_a", Ref("WebPages", "p1"), "Home"},
                        {"ref_ch", Ref("Channels", "c1"), "Chan"}}}};
  Db->CollectionByName("Channels").NewRecord("c1", {{"Name", "C"}});
  EXPECT_EQ(Render(pg, "<#ref_a Caption=x>"), "Home\r\n");
  // A bare parameter keeps its case and is not recognised.
  EXPECT_EQ(Render(pg, "<#ref_a Caption>"), "<a href='news_0.html'>Home</a>\r\n");
  EXPECT_EQ(Render(pg, "<#ref_a value>|<#ref_a id>"), "news_0.html|p1\r\n");
  EXPECT_EQ(Render(pg, "<#ref_ch>"), "<a href='chn://c1'>Chan</a>\r\n");
  // The linked page was queued once, under one name.
  ASSERT_EQ(Gen->UsedPages.size(), 1u);
  EXPECT_EQ(Gen->UsedPages[0]["PageName"], "news_0");
}

TEST_F(TemplateTest, RefToAMissingRecordNamesThePage) {
  Page("me", {{"Name", "Front"}, {"HTMLfile", "t.html"}});
  TJson pg = {{"_ID", "me"}, {"Refs", {{"ref_a", Ref("WebPages", "gone"), "X"}}}};
  EXPECT_EQ(ErrorOf(pg, "<#ref_a>"), "Error in record: WebPages Front. Invalid reference.");
  pg["Refs"][0][1] = Ref("Sounds", "s1");
  EXPECT_EQ(ErrorOf(pg, "<#ref_a>"), "Invalid reference.  Sounds X");
}

TEST_F(TemplateTest, ImageTags) {
  TJson pg = {{"Imgs", {{"image1", "pic.png", "unused"}, {"image2", "", ""}}}};
  EXPECT_EQ(Render(pg, "<#image1>|<#image1 value>|<#image2>"),
            "<img src='pic.png'></img>|pic.png|\r\n");
}

TEST_F(TemplateTest, TableTagByteForByte) {
  TJson rows = {{"10:00 12:00", "<b>Film</b>", "extra"}, {"14:00", "Other"}};
  TJson pg = {{"tables", {{"table", TJson::object(), rows}}}};
  EXPECT_EQ(Render(pg, "<#table width=80 cellspacing=2 cellpadding=\"3\" colname0=Time "
                       "colname1=\"Movie name\" colname3=skipped>"),
            "<Table Width=\"80%\" cellspacing=\"2\" cellpadding=\"3\" >\r\n"
            "<TR><TH class=\"title\">Time</TH><TH class=\"title\">Movie name</TH></TR>\r\n"
            "<TR><TD>10:00 12:00</TD><TD><b>Film</b></TD></TR>\r\n"
            "<TR><TD>14:00</TD><TD>Other</TD></TR>\r\n"
            "</Table>\r\n");
  // Defaults: width 100, no attributes; a width of 0 drops the attribute.
  EXPECT_EQ(MakeTable({"A"}, "", 100, TJson::array()),
            "<Table Width=\"100%\">\r\n<TR><TH class=\"title\">A</TH></TR>\r\n</Table>");
  EXPECT_EQ(Render(pg, "<#table width=0 colname0=A>"),
            "<Table>\r\n<TR><TH class=\"title\">A</TH></TR>\r\n"
            "<TR><TD>10:00 12:00</TD></TR>\r\n<TR><TD>14:00</TD></TR>\r\n</Table>\r\n");
  // A page without tables handles table tags with nothing.
  EXPECT_EQ(Render(TJson::object(), "<#table colname0=A>"), "\r\n");
}

TEST_F(TemplateTest, TableErrors) {
  TJson pg = {{"tables", {{"table", TJson::object(), {{"a"}}}}}};
  EXPECT_EQ(ErrorOf(pg, "<#table colname0=A colname1=B>"),
            "Not enough cols in StArray: [\n  [\n    \"a\"\n  ]\n]");
  pg["tables"][0][2] = "x";
  EXPECT_EQ(ErrorOf(pg, "<#table colname0=A>"), "SuperObject is not StArray: \"x\"");
}

TEST_F(TemplateTest, MenuWithTitleItemsAndOneFolder) {
  Page("p1", {{"Name", "One"}, {"HTMLfile", "one.html"}});
  Page("p2", {{"Name", "Two"}, {"HTMLfile", "two.html"}});
  Db->CollectionByName("Channels").NewRecord("c1", {{"Name", "C"}});
  TJson pg = {{"MenuTitle", "Main"},
              {"Menu",
               {{{"text", "First"}, {"Refs", Ref("WebPages", "p1")}},
                {{"text", "Films"},
                 {"child", {{{"text", "Second"}, {"Refs", Ref("WebPages", "p2")}},
                            {{"text", "TV"}, {"Refs", Ref("Channels", "c1")}}}}},
                {{"text", "Again"}, {"Refs", Ref("WebPages", "p1")}}}}};
  EXPECT_EQ(Render(pg, "<#menu>"),
            "<div id=\"categories\">Main</div>\n"
            "<div id=\"navigation\">\n"
            "   <ul class=\"top-level\">\n"
            "        <li><a href='one_0.html'>First</a></li>\n"
            "      <li><a href=\"#\">Films</a>\n"
            "        <ul class=\"sub-level\">\n"
            "          <li><a href='two_0.html'>Second</a></li>\n"
            "          <li><a href='chn://c1'>TV</a></li>\n"
            "        </ul>\n"
            "      </li>\n"
            "        <li><a href='one_0.html'>Again</a></li>\n"
            "   </ul>\n"
            "</div>\r\n");
}

TEST_F(TemplateTest, MenuOfItemsOnlyAndMenuErrors) {
  Page("p1", {{"Name", "One"}, {"HTMLfile", "one.html"}});
  TJson pg = {{"Menu", {{{"text", "First"}, {"Refs", Ref("WebPages", "p1")}}}}};
  std::string menu = Render(pg, "<#menu>");
  EXPECT_EQ(menu.find("sub-level"), std::string::npos);
  EXPECT_EQ(menu.find("categories"), std::string::npos);
  EXPECT_EQ(Render({{"Menu", TJson::array()}}, "[<#menu>]"), "[]\r\n");

  Page("me", {{"Name", "Front"}, {"HTMLfile", "t.html"}});
  EXPECT_EQ(ErrorOf({{"_ID", "me"}}, "<#menu>"), "Error in record: WebPages Front. Menu is not set!");
  TJson twoLevels = {{"_ID", "me"},
                     {"Menu", {{{"text", "A"}, {"child", {{{"text", "B"}, {"child", TJson::array()}}}}}}}};
  EXPECT_EQ(ErrorOf(twoLevels, "<#menu>"),
            "Error in record: WebPages Front. The menu allows only 2 levels");
  TJson undefined = {{"_ID", "me"}, {"Menu", {{{"text", "A"}, {"Refs", Ref("", "")}}}}};
  EXPECT_EQ(ErrorOf(undefined, "<#menu>"),
            "Error in record: WebPages Front. Menu contains not defined reference!");
}

TEST_F(TemplateTest, SurveyRecordsTagsInFirstSeenOrder) {
  Template("s.html",
           "<#text2><#ref_b><#text1><#text2><#image1><#table><#menu><#SystemTemplate>"
           "<#ifpage eq=x text=y><#reference>");
  std::optional<TJson> f = Gen->CollectFields(Gen->Producer(), Html() + "/s.html");
  ASSERT_TRUE(f);
  EXPECT_TRUE(JsonEqual(*f, TJson::parse(R"({"text":["text2","text1"],"ref":["ref_b","reference"],
      "image":["image1"],"table":["table"],"menu":true,"SystemTemplate":true,"ifpage":true})")));
  EXPECT_FALSE(Gen->Producer().CollectFields);

  EXPECT_FALSE(Gen->CollectFields(Gen->Producer(), Html() + "/missing.html"));
  ASSERT_FALSE(Op.Messages.empty());
  EXPECT_EQ(Op.Messages.back().Caption, "Error");
  EXPECT_EQ(Op.Messages.back().Text, "Not found HTML-template file \"" + Html() + "/missing.html\".");
  Template("bad.html", "<#text1 a=%4>");
  EXPECT_FALSE(Gen->CollectFields(Gen->Producer(), Html() + "/bad.html"));
  EXPECT_EQ(Op.Messages.back().Text,
            "Error decoding URL style (%XX) encoded string at position 3");
}

TEST_F(TemplateTest, PageNamesFromTemplateFiles) {
  EXPECT_EQ(Gen->UniquePageName("sub\\News.html"), "news_0");
  EXPECT_EQ(Gen->UniquePageName("News.html"), "news_1");
  EXPECT_EQ(Gen->UniquePageName("x.html.bak"), "x_0");
  EXPECT_EQ(Gen->UniquePageName("plain"), "plain_0");
}

TEST(PortalTexts, Duration) {
  EXPECT_EQ(PortalDurationText("01:32:07,045"), "1 ч. 32 мин.");
  EXPECT_EQ(PortalDurationText("00:05:59,999"), "0 ч. 05 мин.");
  EXPECT_EQ(PortalDurationText("12:00:00,000"), "12 ч. 00 мин.");
}
