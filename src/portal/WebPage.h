#pragma once
// The rules of the web page and portal editors that need no window: which tabs a web page
// shows, how its tag rows follow a reloaded template, what saving keeps, where template files
// may lie, and how deep the navigation menu may go.
#include <string>

#include "recstore/Json.h"

// What the web page window shows: the four tag tabs and, instead of the system template
// reference, the label "Page is system template".
struct TWebPageTabs {
  bool Text = false;        // "Text": key text
  bool Menu = false;        // "Menu": key Menu
  bool Refs = false;        // "References": key Refs
  bool Imgs = false;        // "Images": key Imgs
  bool SysTmplLabel = false;  // the page is itself a system template (no SysTmpl)
  bool operator==(const TWebPageTabs&) const = default;
};

// The tabs of a stored record: a tab for every tag key it holds; the label when it has no
// SysTmpl.
TWebPageTabs WebPageTabsOfRecord(const TJson& record);
// The tabs a template survey asks for ("text", "menu", "ref", "image"; "SystemTemplate" for
// the label).
TWebPageTabs WebPageTabsOfSurvey(const TJson& survey);

// The rows of Refs, Imgs or text rebuilt to follow the template's tag list (in template
// order): an old row with the tag is taken over, a missing one is created empty
// ([tag, {"_CL": "", "_ID": ""}, null], [tag, null, null], [tag, null]); rows of tags the
// template no longer has, and rows without a tag, are dropped.
TJson RebuildTagRows(const std::string& key, const TJson& oldRows, const TJson& tags);

// "Reload": the record as shown, rebuilt after the survey of its template. Tabs receives what
// the window shows now. The keys of hidden tabs are left for the save rule to remove.
TJson ApplyTemplateSurvey(const TJson& record, const TJson& survey, TWebPageTabs& tabs);

// Saving: the keys of hidden tabs go; SysTmpl goes when the page is a system template,
// otherwise it becomes SysTmplRef ({"_ID", "_CL"}).
void ApplyWebPageSaveRules(TJson& record, const TWebPageTabs& tabs, const TJson& sysTmplRef);

// The template file of a page: the templates folder joined with the stored name (a name that
// starts with a path delimiter is appended unchanged, otherwise a delimiter goes between).
std::string WebPageTemplatePath(const std::string& templatesFolder, const std::string& htmlFile);

// A chosen template file must lie in the templates folder or below it (compared without
// regard to case). True and Relative = the path below the root (in the stored form, with "\"
// separators); false when it lies elsewhere.
bool TemplateFileBelowRoot(const std::string& root, const std::string& chosen,
                           std::string& relative);
// "File %s placed not in HTML root derectory %s or in it subdirectories!"
std::string TemplateOutsideRootMessage(const std::string& chosen, const std::string& root);

// The portal generator accepts folders only at the top of a menu: false when a folder holds
// a folder.
bool MenuLevelsAllowed(const TJson& menu);
inline constexpr const char* MenuLevelsMessage = "The menu allows only 2 levels";
// OK in the HTML editor before its browser engine had shown the page: the cell keeps its text.
inline constexpr const char* HtmlEditorNotLoadedMessage =
    "The HTML editor has not loaded the page yet. The text was not changed.";
