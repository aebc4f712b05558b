#include "portal/WebPage.h"

#include <fmt/format.h>

#include <functional>

#include "base/StrUtils.h"
#include "shell/Options.h"

namespace {

const TJson& KeyOf(const TJson& obj, const char* key) {
  static const TJson null;
  if (!obj.is_object()) return null;
  auto it = obj.find(key);
  return it == obj.end() ? null : *it;
}

TJson EmptyRow(const std::string& key, const std::string& tag) {
  if (key == "Refs") return TJson::array({tag, TJson{{"_CL", ""}, {"_ID", ""}}, nullptr});
  if (key == "Imgs") return TJson::array({tag, nullptr, nullptr});
  return TJson::array({tag, nullptr});
}

}  // namespace

TWebPageTabs WebPageTabsOfRecord(const TJson& record) {
  TWebPageTabs t;
  bool obj = record.is_object();
  t.Text = obj && record.contains("text");
  t.Menu = obj && record.contains("Menu");
  t.Refs = obj && record.contains("Refs");
  t.Imgs = obj && record.contains("Imgs");
  t.SysTmplLabel = !(obj && record.contains("SysTmpl"));
  return t;
}

TWebPageTabs WebPageTabsOfSurvey(const TJson& survey) {
  TWebPageTabs t;
  bool obj = survey.is_object();
  t.Text = obj && survey.contains("text");
  t.Menu = obj && survey.contains("menu");
  t.Refs = obj && survey.contains("ref");
  t.Imgs = obj && survey.contains("image");
  t.SysTmplLabel = obj && survey.contains("SystemTemplate");
  return t;
}

TJson RebuildTagRows(const std::string& key, const TJson& oldRows, const TJson& tags) {
  TJson out = TJson::array();
  if (!tags.is_array()) return out;
  for (const TJson& t : tags) {
    if (!t.is_string()) continue;
    const std::string tag = t.get<std::string>();
    const TJson* found = nullptr;
    if (oldRows.is_array())
      for (const TJson& row : oldRows)
        if (row.is_array() && !row.empty() && row[0].is_string() &&
            !row[0].get<std::string>().empty() && row[0].get<std::string>() == tag) {
          found = &row;
          break;
        }
    out.push_back(found ? *found : EmptyRow(key, tag));
  }
  return out;
}

TJson ApplyTemplateSurvey(const TJson& record, const TJson& survey, TWebPageTabs& tabs) {
  tabs = WebPageTabsOfSurvey(survey);
  TJson rec = record.is_object() ? record : TJson::object();
  struct {
    const char* Key;
    const char* SurveyKey;
    bool Visible;
  } kinds[] = {{"Refs", "ref", tabs.Refs}, {"Imgs", "image", tabs.Imgs}, {"text", "text", tabs.Text}};
  for (const auto& k : kinds) {
    if (!k.Visible) continue;
    rec[k.Key] = RebuildTagRows(k.Key, KeyOf(rec, k.Key), KeyOf(survey, k.SurveyKey));
  }
  // A template that gains a menu gets an empty one to fill.
  if (tabs.Menu && !KeyOf(rec, "Menu").is_array()) rec["Menu"] = TJson::array();
  return rec;
}

void ApplyWebPageSaveRules(TJson& record, const TWebPageTabs& tabs, const TJson& sysTmplRef) {
  if (!record.is_object()) return;
  if (!tabs.Text) record.erase("text");
  if (!tabs.Menu) {
    record.erase("Menu");
    record.erase("MenuTitle");
  }
  if (!tabs.Refs) record.erase("Refs");
  if (!tabs.Imgs) record.erase("Imgs");
  if (tabs.SysTmplLabel) {
    record.erase("SysTmpl");
  } else {
    TJson ref = TJson::object();
    ref["_ID"] = sysTmplRef.is_object() ? JsonStr(sysTmplRef, "_ID") : std::string();
    ref["_CL"] = sysTmplRef.is_object() ? JsonStr(sysTmplRef, "_CL") : std::string();
    record["SysTmpl"] = std::move(ref);
  }
}

std::string WebPageTemplatePath(const std::string& templatesFolder, const std::string& htmlFile) {
  return JoinRootPath(templatesFolder, htmlFile);
}

bool TemplateFileBelowRoot(const std::string& root, const std::string& chosen,
                           std::string& relative) {
  std::string r = ToNativePath(root);
  if (!r.empty() && r.back() != '/') r += '/';
  std::string c = ToNativePath(chosen);
  if (r.empty() || c.size() <= r.size() || LowerCase(c.substr(0, r.size())) != LowerCase(r))
    return false;
  relative = ToStoredPath(c.substr(r.size()));
  return true;
}

std::string TemplateOutsideRootMessage(const std::string& chosen, const std::string& root) {
  return fmt::format("File {} placed not in HTML root derectory {} or in it subdirectories!",
                     chosen, root);
}

bool MenuLevelsAllowed(const TJson& menu) {
  if (!menu.is_array()) return true;
  for (const TJson& node : menu) {
    if (!node.is_object() || !node.contains("child")) continue;
    const TJson& child = node["child"];
    if (!child.is_array()) continue;
    for (const TJson& c : child)
      if (c.is_object() && c.contains("child")) return false;
  }
  return true;
}
