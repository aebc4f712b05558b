#pragma once
// The texts of the HTML editor that need no HTML engine: the body a page's HTML holds, and the
// page that previews a body inside the head of a parent template.
#include <string>

// Between the first "<BODY ...>" and the first "</BODY>" (any case), trimmed. HTML without a
// body tag is taken whole (trimmed); without a closing tag, up to its end.
std::string HtmlBodyText(const std::string& html);

// The preview page of Body. ParentText is the parent template's text (empty: there is none):
// everything up to and including "<#SystemTemplate>" is cut off; of the rest the DOCTYPE and
// the HEAD element are kept, an href in the head that starts with "/" loses that "/", and the
// page becomes DOCTYPE + "<HTML>" + HEAD + "\r\n" + "<BODY>" + Body + "\r\n" + "</BODY></HTML>".
// Without a parent the page is Body itself. ParentFolder (the folder of the parent file, may
// be empty) goes into a BASE element placed before the first LINK of the head, so the style
// sheets the head links resolve against the parent's folder.
std::string ComposePreviewPage(const std::string& parentText, const std::string& body,
                               const std::string& parentFolder = "");

// "file:///" + Folder with "\" turned into "/" and a trailing "/" (one slash after "file://"
// for an absolute path).
std::string FileBaseAddress(const std::string& folder);
