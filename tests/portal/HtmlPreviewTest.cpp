// The HTML editor's texts: the body of a page's HTML and the preview page composed from a
// parent template.
#include <gtest/gtest.h>

#include "portal/HtmlPreview.h"

TEST(HtmlPreview, BodyText) {
  struct {
    const char* Html;
    const char* Body;
  } cases[] = {
      {"<html><head></head><BODY>\n  <p>Hi</p>\n</BODY></html>", "<p>Hi</p>"},
      {"<html><body contenteditable=\"true\" class=x><b>a</b> b</body></html>", "<b>a</b> b"},
      {"<body><p>one</p></body><body>two</body>", "<p>one</p>"},
      {"<bodyguard>x</bodyguard><body>y</body>", "y"},
      {"  plain <i>text</i>  ", "plain <i>text</i>"},
      {"<body>open", "open"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlBodyText(c.Html), c.Body) << c.Html;
}

// Golden: the parent's head (after the system template tag) around the body.
TEST(HtmlPreview, ComposedPage) {
  std::string parent =
      "<html><head><title>cut away</title></head><body><#SystemTemplate>\r\n"
      "<!DOCTYPE html>\r\n<html lang=\"en\">\r\n<HEAD>\r\n<meta charset=\"utf-8\">\r\n"
      "<link rel=\"stylesheet\" href=\"/css/portal.css\">\r\n"
      "<link rel='icon' HREF = '/favicon.ico'>\r\n"
      "<link rel=\"stylesheet\" href=\"local.css\">\r\n</HEAD>\r\n<body>parent body</body></html>";
  EXPECT_EQ(ComposePreviewPage(parent, "<p>Hello</p>"),
            "<!DOCTYPE html><HTML><HEAD>\r\n<meta charset=\"utf-8\">\r\n"
            "<link rel=\"stylesheet\" href=\"css/portal.css\">\r\n"
            "<link rel='icon' HREF = 'favicon.ico'>\r\n"
            "<link rel=\"stylesheet\" href=\"local.css\">\r\n</HEAD>\r\n"
            "<BODY><p>Hello</p>\r\n</BODY></HTML>");
  // A parent whose head lies before the tag gives an empty head; no parent: the body alone.
  EXPECT_EQ(ComposePreviewPage("<html><head><link href=\"/a.css\"></head><body><#SystemTemplate>"
                               "<div>x</div></body></html>",
                               "B"),
            "<HTML><head></head>\r\n<BODY>B\r\n</BODY></HTML>");
  EXPECT_EQ(ComposePreviewPage("", "<p>B</p>"), "<p>B</p>");
  // With the parent's folder a BASE element goes before the first LINK of the head.
  EXPECT_EQ(ComposePreviewPage("<head><title>t</title><LINK href=\"/s.css\"><link href=x.css></head>",
                               "B", "/srv/HTML/sub"),
            "<HTML><head><title>t</title><BASE href=\"file:///srv/HTML/sub/\"><LINK href=\"s.css\">"
            "<link href=x.css></head>\r\n<BODY>B\r\n</BODY></HTML>");
  // A head without LINKs gets none.
  EXPECT_EQ(ComposePreviewPage("<head><style>p{}</style></head>", "B", "/srv/HTML"),
            "<HTML><head><style>p{}</style></head>\r\n<BODY>B\r\n</BODY></HTML>");
  EXPECT_EQ(FileBaseAddress("C:\\portal\\HTML"), "file:///C:/portal/HTML/");
}
