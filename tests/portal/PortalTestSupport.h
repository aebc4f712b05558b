#pragma once
// A small project for the portal tests: a main database with a file name in a temporary
// folder, the HTML templates folder and a custom files folder beside it.
#include <filesystem>
#include <memory>
#include <string>

#include "portal/DoWeb.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

struct TPortalProject {
  TTempDir Tmp;
  TFakeOperator Op;
  std::unique_ptr<TDbFile> Db = CreateMainDatabase(&Op);
  std::unique_ptr<TDataModuleDoWeb> Gen;

  TPortalProject() {
    Db->New();
    Db->SetFileName(Tmp.File("proj.pq2pr"));
    std::filesystem::create_directories(Html());
    std::filesystem::create_directories(Custom());
    Db->CollectionByName("Options").NewRecord(
        "Options", {{"WinVideoDir", "..\\video"}, {"HTMLDir", "..\\HTML"},
                    {"ServersDir", "..\\servers"}, {"StreamServer", "10.1.2.3:554"}});
    Gen = std::make_unique<TDataModuleDoWeb>(*Db);
  }
  std::string Html() const { return Tmp.File("HTML"); }
  std::string Custom() const { return Tmp.File("custom"); }
  std::string Out() const { return Tmp.File("out"); }
  void Template(const std::string& name, const std::string& text) {
    WriteFileBytes(Html() + "/" + name, text);
  }
  void Page(const std::string& id, const TJson& rec) {
    Db->CollectionByName("WebPages").NewRecord(id, rec);
  }
  static TJson Ref(const std::string& cl, const std::string& id) {
    return {{"_ID", id}, {"_CL", cl}};
  }
  // A portal with system template "sys" (template sys.html) and start page StartId.
  void Portal(const std::string& id, const std::string& startId, TJson extra = TJson::object()) {
    TJson rec = {{"Name", "Portal " + id},
                 {"StartPage", Ref("WebPages", startId)},
                 {"SysTmpl", Ref("WebPages", "sys")},
                 {"Folder", "..\\custom"}};
    for (auto it = extra.begin(); it != extra.end(); ++it) rec[it.key()] = it.value();
    Db->CollectionByName("Portals").NewRecord(id, rec);
    if (!Db->CollectionByName("WebPages").GetRecord("sys")) {
      Template("sys.html", "<html><body><#SystemTemplate></body></html>");
      Page("sys", {{"Name", "System"}, {"HTMLfile", "sys.html"}});
    }
  }
  std::string OutFile(const std::string& name) const { return Out() + "/" + name; }
  std::string Read(const std::string& name) const { return ReadFileBytes(OutFile(name)); }
};
