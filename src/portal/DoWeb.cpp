#include "portal/DoWeb.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <unordered_map>

#include "base/StrUtils.h"
#include "package/Cir2Lat.h"
#include "base/CommonProcedures.h"
#include "base/InstallPaths.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string WithTrailingDelimiter(const std::string& path) {
  if (path.empty() || path.back() == '/') return path;
  return path + "/";
}

std::string BaseName(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

// A cell of a record table as text: strings as they are, null as nothing.
std::string CellText(const TJson& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_null()) return {};
  return v.dump();
}

const TJson& Cell(const TJson& row, size_t i) {
  static const TJson null;
  return row.is_array() && i < row.size() ? row[i] : null;
}

// The first row of Page[Key] whose cell 0 is Tag.
const TJson* FindRow(const TJson& page, const char* key, const std::string& tag) {
  if (!page.is_object()) return nullptr;
  auto it = page.find(key);
  if (it == page.end() || !it->is_array()) return nullptr;
  for (const TJson& row : *it)
    if (row.is_array() && !row.empty() && row[0].is_string() && row[0].get<std::string>() == tag)
      return &row;
  return nullptr;
}

bool ParamPresent(const TJson& params, const char* name) { return params.contains(name); }

std::string Param(const TJson& params, const char* name) { return JsonStr(params, name); }

// A name that may become one file or folder inside the portal folder.
bool IsSafeFileName(const std::string& name, bool folder) {
  if (name.empty() || name.size() > MaxPageNameBytes) return false;
  if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos) return false;
  if (folder && (name == "." || name == "..")) return false;
  return true;
}

// Restores a producer's page descriptor when a render ends, also by an exception.
struct TCurrPageGuard {
  TSuperPageProducer& pp;
  ~TCurrPageGuard() { pp.CurrPage = TJson(); }
};

// Empties a tracker whose context was pushed by the caller when the caller leaves.
struct TTrackerGuard {
  TSuperReference& sr;
  ~TTrackerGuard() { sr.ClrErrors(); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Helpers

std::string ReadStreamServerAddress(TDbFile& db) {
  std::string value;
  try {
    if (auto rec = db.CollectionByName("Options").GetRecord("Options"); rec && rec->is_object())
      value = JsonStr(*rec, StreamServerKey);
  } catch (const EDbReadError&) {
    throw;  // not known what is stored: no default in its place
  } catch (...) {
  }
  return value.empty() ? DefaultStreamServer : value;
}

std::string DefaultTemplatesDir() { return ProgramDataPath("default_templates"); }

bool CopyFolder(const std::string& source, const std::string& destination, bool stopOnError,
                bool recursive, bool overwrite) {
  std::error_code ec;
  fs::path src(WithTrailingDelimiter(source)), dst(WithTrailingDelimiter(destination));
  if (!fs::is_directory(src, ec)) return false;
  fs::create_directories(dst, ec);
  if (!fs::is_directory(dst, ec)) return false;
  bool result = true;
  for (fs::directory_iterator it(src, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& from = it->path();
    fs::path to = dst / from.filename();
    if (it->is_directory(ec)) {
      if (!recursive) continue;
      result = CopyFolder(from.string(), to.string(), stopOnError, recursive, overwrite);
    } else {
      if (!overwrite && fs::exists(to, ec)) continue;
      std::error_code cec;
      result = fs::copy_file(from, to, fs::copy_options::overwrite_existing, cec) && !cec;
    }
    if (!result && stopOnError) return false;
  }
  if (ec) return false;
  return result;
}

std::string MakeTable(const std::vector<std::string>& colNames, const std::string& attrText,
                      int width, const TJson& rows) {
  if (!rows.is_array())
    throw EPortalError(fmt::format("SuperObject is not StArray: {}",
                                   rows.dump(2, ' ', true)));
  auto cell = [](const std::string& tag, const std::string& attr, const std::string& text) {
    std::string s = "<" + tag;
    if (!attr.empty()) s += " " + attr;
    s += ">" + text + "</" + tag + ">";
    return s;
  };
  std::string out = "<Table";
  if (width > 0) out += fmt::format(" Width=\"{}%\"", width);
  if (!attrText.empty()) out += " " + attrText;
  out += ">\r\n";
  out += "<TR>";
  for (const std::string& name : colNames) out += cell("TH", "class=\"title\"", name);
  out += "</TR>\r\n";
  for (const TJson& row : rows) {
    if (!row.is_array() || row.size() < colNames.size())
      throw EPortalError(fmt::format("Not enough cols in StArray: {}", rows.dump(2)));
    out += "<TR>";
    for (size_t c = 0; c < colNames.size(); ++c) out += cell("TD", "", CellText(row[c]));
    out += "</TR>\r\n";
  }
  out += "</Table>";
  return out;
}

std::string PercentEncodePath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (unsigned char c : path) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string HtmlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string PercentEncodeSource(const std::string& source) {
  size_t scheme = source.find("://");
  bool hasScheme = scheme != std::string::npos && scheme > 0 &&
                   std::all_of(source.begin(), source.begin() + static_cast<long>(scheme),
                               [](char c) { return std::isalnum(static_cast<unsigned char>(c)) ||
                                                   c == '+' || c == '-' || c == '.'; });
  if (!hasScheme) return PercentEncodePath(source);
  return source.substr(0, scheme + 3) + PercentEncodePath(source.substr(scheme + 3));
}

std::string ChannelPageBaseName(const std::string& channelName) {
  std::string name = "ch_" + LowerCase(Cir2Lat("schedule_" + channelName));
  for (char& c : name)
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '-';
  return name;
}

std::string PortalDurationText(const std::string& duration) {
  TDateTime v = 0;
  try {
    v = StrToTime(duration);
  } catch (const std::exception&) {
    v = 0;
  }
  int64_t minutes = static_cast<int64_t>(std::floor(v * 1440.0 + 1e-7));
  return fmt::format("{} ч. {:02} мин.", minutes / 60, minutes % 60);
}

// ---------------------------------------------------------------------------------------------
// TDataModuleDoWeb

TDataModuleDoWeb::TDataModuleDoWeb(TDbFile& DBF)
    : DefaultTemplatesFolder(DefaultTemplatesDir()), FDbF(&DBF) {
  PageProducer1 = std::make_unique<TSuperPageProducer>(
      [this](TSuperPageProducer& pp, const std::string& name, const std::vector<std::string>& p) {
        return OnHTMLTag(pp, name, p);
      });
}

TDataModuleDoWeb::~TDataModuleDoWeb() = default;

void TDataModuleDoWeb::Status(const std::string& text) {
  if (StatusBar) StatusBar->StatusText(text);
}

std::string TDataModuleDoWeb::UniquePageName(const std::string& htmlFile) {
  std::string base = LowerCase(BaseName(htmlFile));
  size_t cut = base.find(".html");
  if (cut != std::string::npos) base.erase(cut);
  int64_t n = 0;
  if (PagesNames.contains(base)) n = PagesNames[base].get<int64_t>() + 1;
  PagesNames[base] = n;
  return base + "_" + std::to_string(n);
}

TJson& TDataModuleDoWeb::AddUsedPage(TSuperReference& sr, const std::string& id,
                                     const std::string& pageName) {
  std::optional<TJson> rec = sr.Get(FDbF->CollectionByName("WebPages"), id);
  TJson d = rec && rec->is_object() ? std::move(*rec) : TJson::object();
  d["_ID"] = id;
  if (!pageName.empty()) d["PageName"] = pageName;
  UsedPages.push_back(std::move(d));
  return UsedPages.back();
}

std::string TDataModuleDoWeb::PageNameByID(TSuperReference& sr, const std::string& id) {
  for (TJson& p : UsedPages) {
    if (JsonStr(p, "_ID") != id) continue;
    std::string name = JsonStr(p, "PageName");
    if (!name.empty()) return name;
    name = UniquePageName(JsonStr(p, "HTMLfile"));
    p["PageName"] = name;
    return name;
  }
  TJson& p = AddUsedPage(sr, id, "");
  std::string name = UniquePageName(JsonStr(p, "HTMLfile"));
  p["PageName"] = name;
  return name;
}

std::string TDataModuleDoWeb::MakeMenu(TSuperReference& sr, const TJson& page) {
  auto it = page.find("Menu");
  if (it == page.end() || !it->is_array()) sr.ShowErrorMsg("Menu is not set!", true);
  const TJson& menu = *it;
  if (menu.empty()) return {};
  std::string out;
  std::string title = JsonStr(page, "MenuTitle");
  if (!title.empty()) out += "<div id=\"categories\">" + title + "</div>\n";
  out += "<div id=\"navigation\">\n";
  out += "   <ul class=\"top-level\">\n";
  int level = 0;
  std::function<void(const TJson&)> nodes = [&](const TJson& list) {
    for (const TJson& node : list) {
      std::string indent(static_cast<size_t>(level) * 2, ' ');
      std::string text = JsonStr(node, "text");
      if (node.is_object() && node.contains("child")) {
        ++level;
        if (level > 1) sr.ShowErrorMsg("The menu allows only 2 levels", true);
        indent.assign(static_cast<size_t>(level) * 2, ' ');
        out += indent + "    <li><a href=\"#\">" + text + "</a>\n";
        out += indent + "      <ul class=\"sub-level\">\n";
        const TJson& child = node["child"];
        if (child.is_array()) nodes(child);
        out += indent + "      </ul>\n";
        out += indent + "    </li>\n";
        --level;
      } else {
        const TJson* ref = node.is_object() && node.contains("Refs") ? &node["Refs"] : nullptr;
        if (!ref || JsonStr(*ref, "_CL").empty())
          sr.ShowErrorMsg("Menu contains not defined reference!", true);
        out += indent + "        <li>" + MakeLink(sr, *ref, text, TLinkForm::Anchor) + "</li>\n";
      }
    }
  };
  nodes(menu);
  out += "   </ul>\n";
  out += "</div>";
  return out;
}

std::string TDataModuleDoWeb::MakeLink(TSuperReference& sr, const TJson& ref,
                                       const std::string& caption, TLinkForm form, bool encoded) {
  std::string cl = JsonStr(ref, "_CL");
  std::string id = JsonStr(ref, "_ID");
  auto enc = [encoded](const std::string& path) {
    return encoded ? PercentEncodePath(path) : path;
  };
  if (form == TLinkForm::Id) return cl.empty() ? std::string() : enc(id);
  if (id.empty()) sr.ShowErrorMsg("", true);
  std::string target;
  if (cl == "WebPages") {
    TDbCollectionItem& pages = FDbF->CollectionByName("WebPages");
    sr.Push(pages, id, true);
    target = enc(PageNameByID(sr, id) + ".html");
    sr.Pop();
  } else if (cl == "Channels") {
    // The TV schedule page points its channel references at the channels' schedule pages;
    // those names are not records.
    sr.Push(FDbF->CollectionByName("Channels"), id, !EndsWith(id, ".html"));
    target = "chn://" + enc(id);
    sr.Pop();
  } else if (cl == "Films") {
    std::optional<TJson> film = sr.Push(FDbF->CollectionByName("Films"), id, true);
    std::string stored = film ? JsonStr(*film, "FileName") : std::string();
    std::string fileName = LowerCase(stored);
    size_t bs = fileName.find_last_of('\\');
    std::string dir = bs == std::string::npos ? std::string() : fileName.substr(0, bs + 1);
    if (dir != "vod\\") {
      sr.ShowErrorMsg(fmt::format("File \"{}\" must be located in a directory \"{}\"",
                                  JoinRootPath(FVideoRoot, stored),
                                  JoinRootPath(FVideoRoot, "vod")),
                      true);
    }
    if (LUsedFilms) {
      // Registered under its stored name: the server name is lower-cased by the registration
      // itself, while the file on this machine keeps its case (a lower-cased name would not be
      // found on a case-sensitive file system).
      std::string err = LUsedFilms->RegisterFilm(id, stored, FVideoRoot);
      if (!err.empty()) sr.ForceException(err);
      target = "rtsp://" + FStreamServer + "/" + enc(LowerCase(Cir2Lat(BaseName(fileName))));
    }
    sr.Pop();
  } else {
    throw EPortalError("Invalid reference.  " + cl + " " + caption);
  }
  if (form == TLinkForm::Target) return target;
  return "<a href='" + target + "'>" + caption + "</a>";
}

TJson TDataModuleDoWeb::TagParams(TSuperPageProducer& pp, TSuperReference& sr,
                                  const std::vector<std::string>& params) {
  TJson obj = TJson::object();
  for (const std::string& p : params) {
    std::string name, value;
    size_t eq = p.find('=');
    if (eq != std::string::npos) {
      name = p.substr(0, eq);
      for (char& c : name)
        if (c == ' ') c = '_';
      name = LowerCase(name);
      value = p.substr(eq + 1);
    } else {
      name = p;
    }
    if (value.size() >= 3 && StartsWith(value, "<#") && value.back() == '>') {
      std::string tag = value.substr(2, value.size() - 3);
      const TJson* row = FindRow(pp.CurrPage, "Refs", tag);
      // The bare target: such a value names a page ("ifpage eq=<#ref_home>").
      value = row ? MakeLink(sr, Cell(*row, 1), CellText(Cell(*row, 2)), TLinkForm::Target,
                             false)
                  : std::string();
      size_t html = value.find(".html");
      if (html != std::string::npos && html + 5 == value.size()) value.erase(html);
    }
    if (name.empty()) continue;
    obj[name] = value;
  }
  return obj;
}

std::string TDataModuleDoWeb::SubPage(TSuperPageProducer& pp, TSuperReference& sr,
                                      const TJson& ref) {
  std::string id = JsonStr(ref, "_ID");
  std::optional<TJson> rec = sr.Push(FDbF->CollectionByName("WebPages"), id, true);
  // A page that contains itself, directly or through other sub-pages, would never end.
  if (id == JsonStr(pp.CurrPage, "_ID") ||
      std::find(FSubPageStack.begin(), FSubPageStack.end(), id) != FSubPageStack.end())
    sr.ShowErrorMsg("Circular reference.", true);
  TSuperPageProducer sub(pp.OnHTMLTag);
  sub.PageName = pp.PageName;
  TJson pg = rec && rec->is_object() ? *rec : TJson::object();
  pg["_ID"] = id;
  FSubPageStack.push_back(id);
  struct TPopGuard {
    std::vector<std::string>& s;
    ~TPopGuard() { s.pop_back(); }
  } popGuard{FSubPageStack};
  std::string text = MakePage(sub, sr, pg, false);
  sr.Pop();
  return text;
}

std::string TDataModuleDoWeb::OnHTMLTag(TSuperPageProducer& pp, const std::string& tagName,
                                        const std::vector<std::string>& params) {
  if (pp.CollectFields) {
    if (tagName.empty()) return {};
    for (const char* kind : {"text", "ref", "image", "table"}) {
      if (!StartsWith(tagName, kind)) continue;
      TJson& list = FieldCollection[kind];
      if (!list.is_array()) list = TJson::array();
      bool seen = false;
      for (const TJson& n : list) seen = seen || n == tagName;
      if (!seen) list.push_back(tagName);
      return {};
    }
    FieldCollection[tagName] = true;
    return {};
  }

  const TJson& page = pp.CurrPage;
  TSuperReference sr(&FDbF->Operator());
  sr.Push(FDbF->CollectionByName("WebPages"), JsonStr(page, "_ID"), false);
  TTrackerGuard guard{sr};

  if (tagName == "menu") return MakeMenu(sr, page);

  if (StartsWith(tagName, "text")) {
    if (const TJson* row = FindRow(page, "text", tagName)) return CellText(Cell(*row, 1));
  }
  if (StartsWith(tagName, "ref")) {
    if (const TJson* row = FindRow(page, "Refs", tagName)) {
      const TJson& ref = Cell(*row, 1);
      std::string caption = CellText(Cell(*row, 2));
      TJson p = TagParams(pp, sr, params);
      if (ParamPresent(p, "caption")) return caption;
      if (ParamPresent(p, "value")) return MakeLink(sr, ref, caption, TLinkForm::Target);
      if (ParamPresent(p, "subpage")) return SubPage(pp, sr, ref);
      if (ParamPresent(p, "id")) return MakeLink(sr, ref, caption, TLinkForm::Id);
      return MakeLink(sr, ref, caption, TLinkForm::Anchor);
    }
  }
  if (StartsWith(tagName, "image")) {
    if (const TJson* row = FindRow(page, "Imgs", tagName)) {
      std::string file = CellText(Cell(*row, 1));
      TJson p = TagParams(pp, sr, params);
      file = PercentEncodeSource(file);
      if (!ParamPresent(p, "value") && !file.empty()) return "<img src='" + file + "'></img>";
      return file;
    }
  }
  if (StartsWith(tagName, "table")) {
    if (!page.is_object() || !page.contains("tables")) return {};
    if (const TJson* row = FindRow(page, "tables", tagName)) {
      TJson p = TagParams(pp, sr, params);
      int width = 100;
      if (std::string w = Param(p, "width"); !w.empty()) {
        try {
          size_t used = 0;
          int v = std::stoi(w, &used);
          if (used == w.size()) width = v;
        } catch (const std::exception&) {
        }
      }
      std::string attr;
      for (const char* a : {"cellspacing", "cellpadding"}) {
        std::string v = Param(p, a);
        if (!v.empty()) attr += std::string(a) + "=\"" + v + "\" ";
      }
      std::vector<std::string> cols;
      for (int i = 0;; ++i) {
        std::string key = "colname" + std::to_string(i);
        if (!p.contains(key)) break;
        cols.push_back(JsonStr(p, key));
      }
      return MakeTable(cols, attr, width, Cell(*row, 2));
    }
    return {};
  }
  if (tagName == "ifpage") {
    TJson p = TagParams(pp, sr, params);
    std::string eq = Param(p, "eq");
    if (!eq.empty() && eq == pp.PageName) return Param(p, "text");
    return {};
  }
  return {};
}

void TDataModuleDoWeb::CheckPageName(TSuperReference& sr, const std::string& name) {
  if (IsSafeFileName(name, false)) return;
  sr.ShowErrorMsg(fmt::format("Page name \"{}\" cannot be a file name of the portal: it must not "
                              "be empty, longer than {} bytes or hold path separators",
                              name, MaxPageNameBytes),
                  true);
}

void TDataModuleDoWeb::CheckPortalTemplates(TSuperReference& sr, const TJson& portal) {
  std::error_code ec;
  for (const char* key : {"MovieDTempl", "ChSchTempl"}) {
    std::string file = JsonStr(portal, key);
    if (file.empty()) continue;
    std::string path = JoinRootPath(TemplatesFolder, file);
    if (!fs::is_regular_file(path, ec))
      sr.ShowErrorMsg(fmt::format("Not found HTML-template file \"{}\".", path), true);
  }
  std::string schId = JsonStr(portal, "SchTempl._ID");
  if (schId.empty()) return;
  TDbCollectionItem& pages = FDbF->CollectionByName("WebPages");
  std::optional<TJson> tv = sr.Push(pages, schId, true);
  std::string file = tv && tv->is_object() ? JsonStr(*tv, "HTMLfile") : std::string();
  if (file.empty()) sr.ShowErrorMsg("HTML-template file is not set!", true);
  std::string path = JoinRootPath(TemplatesFolder, file);
  if (!fs::is_regular_file(path, ec))
    sr.ShowErrorMsg(fmt::format("Not found HTML-template file \"{}\".", path), true);
  sr.Pop();
}

void TDataModuleDoWeb::WritePage(TSuperReference& sr, const std::string& path,
                                 const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (old == bytes) {
        ++PagesUnchanged;
        return;
      }
    }
  }
  // A reader never sees half a page: the bytes go to a file beside it that is renamed over
  // the page. No flush to disk per page: a package is rebuilt whole after a crash anyway, and
  // thousands of page syncs would make a build crawl.
  std::string tmp = path + ".tmp";
  bool ok = false;
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (out) {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.close();
      ok = !out.fail();
    }
  }
  if (ok) {
    fs::rename(tmp, path, ec);
    ok = !ec;
  }
  if (!ok) {
    fs::remove(tmp, ec);
    sr.ShowErrorMsg("Can't to write to file " + path, false);
  }
  ++PagesWritten;
}

std::string TDataModuleDoWeb::MakePage(TSuperPageProducer& pp, TSuperReference& sr,
                                       const TJson& pg, bool CreateFile) {
  TCurrPageGuard currGuard{pp};
  pp.CurrPage = pg;
  std::string id = JsonStr(pg, "_ID");
  std::string name = JsonStr(pg, "PageName");
  if (name.empty()) name = id;
  Status(fmt::format("Creating page \"{}\"", name));
  auto report = [&](const std::string& msg) {
    if (!id.empty()) sr.Push(FDbF->CollectionByName("WebPages"), id, false);
    sr.ShowErrorMsg(msg, true);
  };
  std::string htmlFile = JsonStr(pg, "HTMLfile");
  if (htmlFile.empty()) report("HTML-template file is not set!");
  std::string path = JoinRootPath(TemplatesFolder, htmlFile);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) report(fmt::format("Not found HTML-template file \"{}\".", path));
  pp.CollectFields = false;
  pp.LoadFromFile(path);
  if (CreateFile) {
    if (!id.empty()) sr.Push(FDbF->CollectionByName("WebPages"), id, false);
    CheckPageName(sr, name);
    if (!id.empty()) sr.Pop();
    pp.PageName = name;
  }
  std::string result = pp.Content();
  if (!ServerID.empty() && !result.empty() && CreateFile) {
    if (pg.is_object() && pg.contains("SysTmpl")) {
      std::string sysId = JsonStr(pg, "SysTmpl._ID");
      if (sysId.empty()) sysId = JsonStr(DefSysTmpl, "_ID");
      std::string sysName = PageNameByID(sr, sysId);
      if (sysName != "NotNeededSystemTemplate")
        result = "{% extends \"" + sysName + ".html" + "\" %}{% block container %}" + result +
                 "{% end %}";
    }
    WritePage(sr, PortalOutFolder + name + ".html", result);
  }
  return result;
}

std::optional<TJson> TDataModuleDoWeb::CollectFields(TSuperPageProducer& pp,
                                                     const std::string& HtmlTemplateFileName) {
  try {
    std::error_code ec;
    if (!fs::is_regular_file(HtmlTemplateFileName, ec))
      throw EPortalError(
          fmt::format("Not found HTML-template file \"{}\".", HtmlTemplateFileName));
    FieldCollection = TJson::object();
    pp.CollectFields = true;
    struct TSurveyGuard {
      TSuperPageProducer& pp;
      ~TSurveyGuard() { pp.CollectFields = false; }
    } surveyGuard{pp};
    pp.LoadFromFile(HtmlTemplateFileName);
    pp.Content();
    return FieldCollection;
  } catch (const std::exception& e) {
    FDbF->Operator().MessageBox("Error", e.what(), TMsgIcon::Error);
    return std::nullopt;
  }
}

std::string TDataModuleDoWeb::MakeWebPortal(IOperator* aStatusBar, const std::string& PortalID,
                                            IPortalFilms* UsedFilms, const TJson* CustomPages,
                                            const std::string& ServrID,
                                            const std::string& PortalOutFoldr) {
  std::string result;
  IOperator* savedStatus = StatusBar;
  StatusBar = aStatusBar;
  struct TRunGuard {
    TDataModuleDoWeb& g;
    IOperator* saved;
    ~TRunGuard() {
      g.UsedPages = TJson::array();
      g.DefSysTmpl = TJson();
      g.LUsedFilms = nullptr;
      g.StatusBar = saved;
    }
  } runGuard{*this, savedStatus};

  DefSysTmpl = TJson();
  ServerID = ServrID;
  Status("Creating Web portal");
  PortalOutFolder = WithTrailingDelimiter(PortalOutFoldr);
  if (!ServerID.empty() && PortalOutFolder.empty())
    throw EPortalError("The output folder of the portal is not set!");
  PagesWritten = PagesUnchanged = 0;

  TSuperReference sr(&FDbF->Operator());
  LUsedFilms = ServerID.empty() ? nullptr : UsedFilms;
  FVideoRoot = GetOptionDir(*FDbF, odVideo);
  FStreamServer = ReadStreamServerAddress(*FDbF);

  std::optional<TJson> portal = sr.Push(FDbF->CollectionByName("Portals"), PortalID, true);
  TTrackerGuard trackerGuard{sr};
  if (!portal || !portal->is_object()) portal = TJson::object();

  TemplatesFolder = WithTrailingDelimiter(GetOptionDir(*FDbF, odHTML));

  std::string folder = JsonStr(*portal, "Folder");
  if (folder.empty()) sr.ShowErrorMsg("Not defined portal's directory!", true);
  std::string customFolder = ToNativePath(ExpandProjectPath(*FDbF, folder));
  std::error_code ec;
  if (!fs::is_directory(customFolder, ec))
    sr.ShowErrorMsg(fmt::format("Directory not exists \"{}\"", customFolder), true);

  UsedPages = TJson::array();
  PagesNames = TJson::object();
  CheckPortalTemplates(sr, *portal);

  DefSysTmpl = AddUsedPage(sr, JsonStr(*portal, "SysTmpl._ID"), "dfs");
  if (DefSysTmpl.contains("SysTmpl"))
    sr.ShowErrorMsg(fmt::format("Invalid default system template file \"{}\"",
                                JsonStr(DefSysTmpl, "HTMLfile")),
                    true);
  AddUsedPage(sr, JsonStr(*portal, "StartPage._ID"), "index");

  std::string movieTemplate = JsonStr(*portal, "MovieDTempl");
  if (LUsedFilms && !movieTemplate.empty() &&
      fs::is_regular_file(JoinRootPath(TemplatesFolder, movieTemplate), ec)) {
    TDbCollectionItem& films = FDbF->CollectionByName("Films");
    for (const TPortalMovie& m : LUsedFilms->Movies()) {
      std::optional<TJson> film = sr.Get(films, m.ID);
      if (!film || !JsonBool(*film, "ShowInSchedule")) continue;
      TJson d = TJson::object();
      d["_ID"] = m.ID;
      d["HTMLfile"] = movieTemplate;
      d["text"] = TJson::array({TJson::array({"text_name", HtmlText(JsonStr(*film, "Name"))}),
                                TJson::array({"text_descr", HtmlText(JsonStr(*film, "Description"))}),
                                TJson::array({"text_styear", HtmlText(JsonStr(*film, "StateYear"))}),
                                TJson::array({"text_cast", HtmlText(JsonStr(*film, "Cast"))}),
                                TJson::array({"text_genres", HtmlText(JsonStr(*film, "Genres"))}),
                                TJson::array({"text_dur", PortalDurationText(JsonStr(*film, "Duration"))})});
      d["PageName"] = "md_" + m.HtmlFileName;
      UsedPages.push_back(std::move(d));
    }
  }

  if (CustomPages && CustomPages->is_array())
    for (const TJson& d : *CustomPages) UsedPages.push_back(d);

  // Two pages under one name (letter case aside: a share may not tell them apart) would leave
  // only the second.
  std::set<std::string> pageNames;
  for (size_t i = 0; i < UsedPages.size(); ++i) {
    TJson page = UsedPages[i];
    std::string name = JsonStr(page, "PageName");
    if (name.empty()) name = JsonStr(page, "_ID");
    if (!pageNames.insert(LowerCase(name)).second) {
      std::string id = JsonStr(page, "_ID");
      if (!id.empty()) sr.Push(FDbF->CollectionByName("WebPages"), id, false);
      sr.ShowErrorMsg(fmt::format("Page name \"{}\" is given to two pages of the portal", name),
                      true);
    }
    MakePage(*PageProducer1, sr, page, true);
  }

  sr.Pop();

  if (!ServerID.empty()) {
    if (CopyFolder(customFolder, PortalOutFolder, true, true, false)) {
      Status("Web portal was successfully created!");
    } else {
      result = fmt::format("Failed to copy folder \"{}\" to folder \"{}\"", customFolder,
                           PortalOutFolder);
      Status(result);
    }
  } else {
    Status("Web portal was successfully created!");
  }
  return result;
}

std::map<std::string, std::string> TDataModuleDoWeb::ChannelPageNames(const TJson& RowSummary) {
  std::map<std::string, std::string> pageOf;
  if (!RowSummary.is_object()) return pageOf;
  TDbCollectionItem& chans = FDbF->CollectionByName("Channels");
  // Identifier order: the same channels get the same names on every build.
  std::vector<std::pair<std::string, std::string>> bases;  // channel id, base name
  for (auto it = RowSummary.begin(); it != RowSummary.end(); ++it) {
    std::optional<TJson> rec = chans.GetRecord(it.key());
    if (!rec || !rec->is_object()) continue;
    std::string base = ChannelPageBaseName(JsonStr(*rec, "Name"));
    if (!IsSafeFileName(base, false)) {
      TSuperReference sr(&FDbF->Operator());
      sr.Push(chans, it.key(), false);
      TTrackerGuard guard{sr};
      CheckPageName(sr, base);
    }
    bases.emplace_back(it.key(), base);
  }
  std::sort(bases.begin(), bases.end());
  std::set<std::string> taken;
  for (auto& [id, base] : bases) taken.insert(base);
  std::set<std::string> given;
  for (auto& [id, base] : bases) {
    std::string name = base;
    if (!given.insert(base).second) {
      int n = 2;
      while (taken.count(base + "_" + std::to_string(n))) ++n;
      name = base + "_" + std::to_string(n);
      taken.insert(name);
    }
    if (name.size() > MaxPageNameBytes) {
      TSuperReference sr(&FDbF->Operator());
      sr.Push(chans, id, false);
      TTrackerGuard guard{sr};
      CheckPageName(sr, name);
    }
    pageOf[id] = name;
  }
  return pageOf;
}

TJson TDataModuleDoWeb::BuildSchedulePages(const TJson& srvopt, const TJson& RowSummary) {
  TJson byPortal = TJson::object();
  std::unordered_map<std::string, std::optional<TJson>> channels;
  TDbCollectionItem& portals = FDbF->CollectionByName("Portals");
  TDbCollectionItem& pages = FDbF->CollectionByName("WebPages");
  TDbCollectionItem& chans = FDbF->CollectionByName("Channels");
  TDbCollectionItem& films = FDbF->CollectionByName("Films");
  const TJson* table = srvopt.is_object() && srvopt.contains("Table") ? &srvopt["Table"] : nullptr;
  if (!table || !table->is_array()) return byPortal;
  std::map<std::string, std::string> pageOf;
  bool named = false;
  for (size_t i = 0; i < table->size(); ++i) {
    std::string portalId = JsonStr(Cell((*table)[i], 1), "_ID");
    // Every group row renders the same schedule row, so a portal named by several rows gets
    // its schedule pages once.
    if (portalId.empty() || byPortal.contains(portalId)) continue;
    TJson arr = TJson::array();
    std::optional<TJson> portal = portals.GetRecord(portalId);
    if (!portal || !portal->is_object()) continue;
    std::string schId = JsonStr(*portal, "SchTempl._ID");
    if (schId.empty()) continue;
    std::optional<TJson> schTemplate = pages.GetRecord(schId);
    if (!schTemplate || !schTemplate->is_object()) continue;
    if (!named) {
      pageOf = ChannelPageNames(RowSummary);
      named = true;
    }
    // Movie pages are written only from a movie template; without one nothing links them.
    bool moviePages = !JsonStr(*portal, "MovieDTempl").empty();
    const TJson& summary = RowSummary;
    if (summary.is_object()) {
      for (auto it = summary.begin(); it != summary.end(); ++it) {
        const std::string& channelId = it.key();
        auto cached = channels.find(channelId);
        if (cached == channels.end())
          cached = channels.emplace(channelId, chans.GetRecord(channelId)).first;
        if (!cached->second || !pageOf.count(channelId)) continue;
        std::string name = JsonStr(*cached->second, "Name");
        TJson rows = TJson::array();
        if (it.value().is_array()) {
          for (const TJson& entry : it.value()) {
            std::string times = CellText(Cell(entry, 0));
            std::string filmId = CellText(Cell(entry, 1));
            TPortalMovie* movie = nullptr;
            if (LUsedFilms)
              for (TPortalMovie& m : LUsedFilms->Movies())
                if (m.ID == filmId) {
                  movie = &m;
                  break;
                }
            std::string filmName;
            if (movie && !movie->Name.empty()) {
              filmName = movie->Name;
            } else if (auto film = films.GetRecord(filmId); film && film->is_object()) {
              filmName = JsonStr(*film, "Name");
              if (movie) movie->Name = filmName;
            }
            std::string cell = movie && moviePages
                                   ? "<h3><a href=\"" +
                                         PercentEncodePath("md_" + movie->HtmlFileName + ".html") +
                                         "\">" + HtmlText(filmName) + "</a></h3>"
                                   : "<h3>" + HtmlText(filmName) + "</h3>";
            rows.push_back(TJson::array({times, cell}));
          }
        }
        TJson d = TJson::object();
        d["PageName"] = pageOf[channelId];
        d["HTMLfile"] = JsonStr(*portal, "ChSchTempl");
        d["tables"] = TJson::array({TJson::array({"table", TJson::object(), rows})});
        d["text"] = TJson::array({TJson::array({"text_channel", HtmlText(name)})});
        arr.push_back(std::move(d));
      }
    }
    TJson v = TJson::object();
    v["PageName"] = "v_schedule";
    v["HTMLfile"] = JsonStr(*schTemplate, "HTMLfile");
    if (schTemplate->contains("Refs") && (*schTemplate)["Refs"].is_array()) {
      TJson refs = (*schTemplate)["Refs"];
      for (TJson& row : refs) {
        if (!row.is_array() || row.size() < 2 || !row[1].is_object()) continue;
        if (JsonStr(row[1], "_CL") != "Channels") continue;
        auto page = pageOf.find(JsonStr(row[1], "_ID"));
        // A channel without a schedule in this run keeps its reference.
        if (page == pageOf.end()) continue;
        row[1]["_ID"] = page->second + ".html";
      }
      v["Refs"] = std::move(refs);
    }
    arr.push_back(std::move(v));
    byPortal[portalId] = std::move(arr);
  }
  return byPortal;
}

std::string TDataModuleDoWeb::MakePortals(TSuperReference& sr, const TJson* srvopt,
                                          const std::string& aServerFolder, const std::string& dt,
                                          std::string& errMsg, IOperator* aStatusBar,
                                          IPortalFilms* UsedFilms,
                                          const TJson* CustomPagesByPortalID,
                                          const TJson* RowSummary) {
  std::string serverFolder = WithTrailingDelimiter(aServerFolder);
  errMsg.clear();
  std::string result;
  if (!srvopt || !srvopt->is_object()) sr.ShowErrorMsg("Servers options is not set!", true);
  if (!IsSafeFileName(dt, true))
    throw EPortalError("Invalid portal stamp \"" + dt + "\"");

  // The used-films list is needed while the schedule pages are built (film names, page names).
  LUsedFilms = UsedFilms;
  TJson schedulePages;
  const TJson* pagesByPortal = CustomPagesByPortalID;
  if (!pagesByPortal && RowSummary) {
    schedulePages = BuildSchedulePages(*srvopt, *RowSummary);
    pagesByPortal = &schedulePages;
  }
  LUsedFilms = nullptr;

  TDbCollectionItem& groups = FDbF->CollectionByName("Groups");
  const TJson& table = (*srvopt).contains("Table") ? (*srvopt)["Table"] : TJson::array();
  size_t rows = table.is_array() ? table.size() : 0;
  for (size_t i = 0; i < rows; ++i) {
    std::optional<TJson> group = sr.Push(groups, table, 0, static_cast<int>(i), "", true);
    std::string groupName = group ? JsonStr(*group, "Name") : std::string();
    std::string portalId = JsonStr(Cell(table[i], 1), "_ID");
    if (!portalId.empty() && !IsSafeFileName(groupName, true))
      sr.ShowErrorMsg(fmt::format("STB group name \"{}\" cannot be a folder name of the portal: "
                                  "it must not be empty, \".\", \"..\" or hold path separators",
                                  groupName),
                      true);
    sr.Pop();
    if (portalId.empty()) continue;
    if (result.empty()) result = "/inbox/portal/" + dt;
    std::string out = serverFolder + "portal/" + dt + "/" + groupName;
    const TJson* custom = nullptr;
    if (pagesByPortal && pagesByPortal->is_object() && pagesByPortal->contains(portalId))
      custom = &(*pagesByPortal)[portalId];
    std::string err = MakeWebPortal(aStatusBar, portalId, UsedFilms, custom, "ID", out);
    if (!err.empty()) {
      errMsg = err;
      break;
    }
  }

  if (result.empty() && errMsg.empty()) {
    fs::path dest = fs::path(serverFolder) / "portal" / "default";
    std::error_code ec;
    fs::create_directories(dest, ec);
    for (const char* name : {"index.html", "common.css"}) {
      fs::path from = fs::path(DefaultTemplatesFolder) / name;
      fs::path to = dest / name;
      if (fs::exists(to, ec)) continue;
      std::error_code cec;
      if (!fs::copy_file(from, to, cec) || cec) {
        std::string text =
            fmt::format("Failed to copy file \"{}\" to file \"{}\"", from.string(), to.string());
        FDbF->Operator().MessageBox("Error", text, TMsgIcon::Error);
        throw EPortalError(text);
      }
    }
  }
  return result;
}
