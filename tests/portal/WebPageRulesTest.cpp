// The rules of the web page editor: tabs from a record and from a template survey, tag rows
// that follow a reloaded template, what saving keeps, the templates root, the menu depth.
#include <gtest/gtest.h>

#include "portal/WebPage.h"
#include "recstore/Json.h"

namespace {
TJson J(const char* text) { return TJson::parse(text); }
}  // namespace

TEST(WebPageRules, TabsFollowTheRecordAndTheSurvey) {
  struct {
    const char* Json;
    bool Survey;
    TWebPageTabs Want;
  } cases[] = {
      {R"({"text": [], "SysTmpl": {"_ID": "", "_CL": ""}})", false, {true, false, false, false, false}},
      {R"({"Menu": [], "Refs": [], "Imgs": []})", false, {false, true, true, true, true}},
      {R"({})", false, {false, false, false, false, true}},
      {R"({"text": ["text1"], "menu": true, "SystemTemplate": true})", true, {true, true, false, false, true}},
      {R"({"ref": ["ref_a"], "image": ["image1"], "ifpage": true})", true, {false, false, true, true, false}},
  };
  for (const auto& c : cases) {
    TJson j = J(c.Json);
    EXPECT_EQ(c.Survey ? WebPageTabsOfSurvey(j) : WebPageTabsOfRecord(j), c.Want) << c.Json;
  }
}

// Rows follow the template: kept in template order, new tags get empty rows, others go.
TEST(WebPageRules, RebuildTagRows) {
  struct {
    const char* Key;
    const char* Old;
    const char* Tags;
    const char* Want;
  } cases[] = {
      {"text", R"([["text_b", "B"], ["text_a", "A"], ["text_gone", "G"], ["", "x"]])",
       R"(["text_a", "text_b", "text_new"])",
       R"([["text_a", "A"], ["text_b", "B"], ["text_new", null]])"},
      {"Refs", R"([["ref_x", {"_ID": "p1", "_CL": "WebPages"}, "X"]])", R"(["ref_new", "ref_x"])",
       R"([["ref_new", {"_CL": "", "_ID": ""}, null], ["ref_x", {"_ID": "p1", "_CL": "WebPages"}, "X"]])"},
      {"Imgs", R"(null)", R"(["image1"])", R"([["image1", null, null]])"},
      {"Imgs", R"([["image1", "a.png", "A"]])", R"([])", R"([])"},
  };
  for (const auto& c : cases) {
    TJson got = RebuildTagRows(c.Key, J(c.Old), J(c.Tags));
    EXPECT_TRUE(JsonEqual(got, J(c.Want))) << c.Key << " " << c.Old << " -> " << got.dump();
  }
}

// Reload turns a page into a system template when its template has "<#SystemTemplate>", and
// saving then drops SysTmpl and the keys of the tabs the template no longer shows.
TEST(WebPageRules, ReloadAndSave) {
  TJson rec = J(R"({"Name": "P", "HTMLfile": "p.html", "SysTmpl": {"_ID": "s", "_CL": "WebPages"},
                    "text": [["text1", "old"], ["text2", "two"]], "Imgs": [["image1", "a.png", null]],
                    "Menu": [], "MenuTitle": "M"})");
  TWebPageTabs tabs;
  TJson shown = ApplyTemplateSurvey(rec, J(R"({"text": ["text2", "text3"], "SystemTemplate": true})"), tabs);
  EXPECT_EQ(tabs, (TWebPageTabs{true, false, false, false, true}));
  EXPECT_TRUE(JsonEqual(shown["text"], J(R"([["text2", "two"], ["text3", null]])")));
  ApplyWebPageSaveRules(shown, tabs, J(R"({"_ID": "s", "_CL": "WebPages"})"));
  EXPECT_TRUE(JsonEqual(shown, J(R"({"Name": "P", "HTMLfile": "p.html",
                                     "text": [["text2", "two"], ["text3", null]]})")))
      << shown.dump();

  // A page that is no system template keeps the chosen reference; an empty one means the
  // portal's default.
  TJson page = J(R"({"Name": "Q", "Refs": []})");
  ApplyWebPageSaveRules(page, TWebPageTabs{false, false, true, false, false}, J(R"({"_ID": "", "_CL": ""})"));
  EXPECT_TRUE(JsonEqual(page, J(R"({"Name": "Q", "Refs": [], "SysTmpl": {"_ID": "", "_CL": ""}})")));
  // A template that does not survey leaves the record to the caller: a failed survey is no
  // survey at all, so nothing here runs. A survey without tags hides every tab.
  TJson bare = ApplyTemplateSurvey(rec, TJson::object(), tabs);
  EXPECT_EQ(tabs, TWebPageTabs{});
  EXPECT_TRUE(JsonEqual(bare, rec));
}

TEST(WebPageRules, TemplateFilesMustLieBelowTheTemplatesFolder) {
  struct {
    const char* Root;
    const char* Chosen;
    bool Ok;
    const char* Relative;
  } cases[] = {
      {"/p/HTML/", "/p/HTML/page.html", true, "page.html"},
      {"/p/HTML", "/p/HTML/sub/page.html", true, "sub\\page.html"},
      {"/p/HTML/", "/p/html/Sub/Page.html", true, "Sub\\Page.html"},  // case does not matter
      {"/p/HTML/", "/p/HTMLX/page.html", false, ""},
      {"/p/HTML/", "/p/other/page.html", false, ""},
      {"/p/HTML/", "/p/HTML/", false, ""},
  };
  for (const auto& c : cases) {
    std::string rel;
    EXPECT_EQ(TemplateFileBelowRoot(c.Root, c.Chosen, rel), c.Ok) << c.Chosen;
    EXPECT_EQ(rel, c.Relative) << c.Chosen;
  }
  EXPECT_EQ(TemplateOutsideRootMessage("/x/a.html", "/p/HTML/"),
            "File /x/a.html placed not in HTML root derectory /p/HTML/ or in it subdirectories!");
  EXPECT_EQ(WebPageTemplatePath("/p/HTML/", "sub\\page.html"), "/p/HTML/sub/page.html");
  EXPECT_EQ(WebPageTemplatePath("/p/HTML", "\\page.html"), "/p/HTML/page.html");
}

TEST(WebPageRules, MenuFoldersOnlyAtTheTop) {
  EXPECT_TRUE(MenuLevelsAllowed(J(R"([{"text": "a", "Refs": {}}, {"text": "F", "child": [{"text": "b"}]}])")));
  EXPECT_TRUE(MenuLevelsAllowed(J(R"([{"text": "F", "child": []}])")));
  EXPECT_FALSE(MenuLevelsAllowed(J(R"([{"text": "F", "child": [{"text": "G", "child": []}]}])")));
}
