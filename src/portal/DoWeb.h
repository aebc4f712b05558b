#pragma once
// The portal generator: renders a portal record, the web page records it reaches and the HTML
// template files into the static pages the set-top boxes show.
//
//  - Real run (MakePortals from "Create files", or MakeWebPortal with a server id): pages are
//    written into the server package; a page whose bytes did not change keeps its file.
//  - Check run (MakeWebPortal without server id and output folder): every page is rendered, so
//    every template, tag and reference is checked, but nothing is written.
//  - Survey (CollectFields): which tags a template holds.
//
// Errors about records go through the reference tracker (TSuperReference), which names the
// record and ends the run with EDbFException; other failures raise EPortalError.
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "portal/SuperPageProducer.h"
#include "recstore/JrecClasses.h"
#include "package/UsedFilms.h"

class EPortalError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One film of the used-films list: ID (film record id), HtmlFileName (base name of the film's
// detail page, without "md_"), Name (filled by the generator when needed).
using TPortalMovie = TMovieAttributes;

// The used-films list of one package build, as the generator needs it.
class IPortalFilms {
public:
  virtual ~IPortalFilms() = default;
  virtual std::vector<TPortalMovie>& Movies() = 0;
  // Registers a film (id, stored file name, video root) for the package; returns
  // an error text, empty when the film may be used.
  virtual std::string RegisterFilm(const std::string& id, const std::string& fileName,
                                   const std::string& videoRoot) = 0;
};

// Options key of the stream server address in film links ("rtsp://" + address + "/" + file).
inline constexpr const char* StreamServerKey = "StreamServer";
inline constexpr const char* DefaultStreamServer = "192.168.0.10:554";
std::string ReadStreamServerAddress(TDbFile& db);

// The folder "default_templates" beside the running program.
std::string DefaultTemplatesDir();

// Copies the entries of Source into Destination (both get trailing delimiters). False when
// the source does not exist or the destination cannot be created; otherwise the outcome of
// the last copy made (true when nothing was copied). With StopOnError the walk ends at the
// first failure; without Overwrite existing destination files are left alone.
bool CopyFolder(const std::string& source, const std::string& destination, bool stopOnError,
                bool recursive, bool overwrite);

// The HTML table of a "table" tag (see the generator's notes on tables).
std::string MakeTable(const std::vector<std::string>& colNames, const std::string& attrText,
                      int width, const TJson& rows);

// A link target's path as it may stand in an href: unreserved characters (letters, digits,
// "-", ".", "_", "~") and "/" stay, every other byte becomes %XX (the apostrophe too).
std::string PercentEncodePath(const std::string& path);

// A catalogue text (film, channel name, description) as HTML text: & < > " ' become entities.
std::string HtmlText(const std::string& text);

// An image source as it may stand in src='...': a leading "scheme://" stays, the rest is
// percent-encoded like a link target's path.
std::string PercentEncodeSource(const std::string& source);

// The base name of a channel's schedule page: "ch_" + the lower-cased transliteration of
// "schedule_" + the channel name, path separators and control characters mapped to "-".
std::string ChannelPageBaseName(const std::string& channelName);

// Longest page name whose file (with ".html" and the ".tmp" of the write) a file system takes.
inline constexpr size_t MaxPageNameBytes = 255 - 9;

// "h ч. mm мин." of a film duration text ("01:32:07,045" gives "1 ч. 32 мин.").
std::string PortalDurationText(const std::string& duration);

class TDataModuleDoWeb {
public:
  explicit TDataModuleDoWeb(TDbFile& DBF);
  ~TDataModuleDoWeb();

  // Generates the portals of one server options record into the package folder, for the
  // schedule row that starts at dt. Returns "/inbox/portal/" + dt, or "" when no row names a
  // portal; ErrMsg receives the first error text of MakeWebPortal. CustomPagesByPortalID
  // (portal id -> array of page descriptors) may be null; then the schedule pages are built
  // from RowSummary, the schedule summary of that schedule row (may be null), which serves
  // every STB group of the options alike.
  std::string MakePortals(TSuperReference& sr, const TJson* srvopt,
                          const std::string& aServerFolder, const std::string& dt,
                          std::string& errMsg, IOperator* StatusBar, IPortalFilms* UsedFilms,
                          const TJson* CustomPagesByPortalID, const TJson* RowSummary);

  // Generates portal PortalID. A non-empty ServrID makes a real run into PortalOutFoldr.
  // Returns "" on success or the error text of the final copy step.
  std::string MakeWebPortal(IOperator* StatusBar, const std::string& PortalID,
                            IPortalFilms* UsedFilms, const TJson* CustomPages,
                            const std::string& ServrID, const std::string& PortalOutFoldr);

  // Renders page descriptor pg with producer pp; with CreateFile in a real run writes it.
  std::string MakePage(TSuperPageProducer& pp, TSuperReference& sr, const TJson& pg,
                       bool CreateFile);

  // Survey of a template file: {"text": [...], "ref": [...], "image": [...], "table": [...],
  // other tag names: true}. Errors are shown in an "Error" box; the result is then nothing.
  std::optional<TJson> CollectFields(TSuperPageProducer& pp,
                                     const std::string& HtmlTemplateFileName);

  // {portal id: [page descriptors]}: the channel schedule pages and the TV schedule page of
  // every portal the STB group rows of srvopt name, all from the one schedule summary of the
  // schedule row being rendered ({channel id: [[times, film id], ...]}).
  TJson BuildSchedulePages(const TJson& srvopt, const TJson& RowSummary);

  // The schedule page name of every channel of a schedule summary that has a record: each its
  // own, the plain base name kept for the first channel (by identifier) of those that share it,
  // later ones numbered "_2", "_3", ... past every name already taken. A name that cannot be a
  // file name is an error about the channel record.
  std::map<std::string, std::string> ChannelPageNames(const TJson& RowSummary);

  // Page naming.
  TJson& AddUsedPage(TSuperReference& sr, const std::string& id, const std::string& pageName);
  std::string PageNameByID(TSuperReference& sr, const std::string& id);
  std::string UniquePageName(const std::string& htmlFile);

  // The navigation menu of a page descriptor.
  std::string MakeMenu(TSuperReference& sr, const TJson& page);

  TSuperPageProducer& Producer() { return *PageProducer1; }
  TDbFile& DbF() { return *FDbF; }

  // Where "index.html" and "common.css" for portal-less packages come from (default: the
  // folder beside the program).
  std::string DefaultTemplatesFolder;

  // State of the current run (public for the editors and tests).
  TJson DefSysTmpl;
  std::string TemplatesFolder;
  std::string PortalOutFolder;
  std::string ServerID;
  IOperator* StatusBar = nullptr;
  IPortalFilms* LUsedFilms = nullptr;
  TJson FieldCollection;
  TJson UsedPages = TJson::array();
  TJson PagesNames = TJson::object();

  // Pages written by the last real run and pages left untouched because their bytes did not
  // change.
  int PagesWritten = 0;
  int PagesUnchanged = 0;

private:
  std::string OnHTMLTag(TSuperPageProducer& pp, const std::string& tagName,
                        const std::vector<std::string>& params);
  TJson TagParams(TSuperPageProducer& pp, TSuperReference& sr,
                  const std::vector<std::string>& params);
  enum class TLinkForm { Anchor, Target, Id };
  // Encoded: the target as it goes into the page (percent-encoded path); otherwise the bare
  // target, as page names are compared.
  std::string MakeLink(TSuperReference& sr, const TJson& ref, const std::string& caption,
                       TLinkForm form, bool encoded = true);
  std::string SubPage(TSuperPageProducer& pp, TSuperReference& sr, const TJson& ref);
  void Status(const std::string& text);
  void CheckPageName(TSuperReference& sr, const std::string& name);
  // Every template a portal names (movie, channel schedule, TV schedule) must be there.
  void CheckPortalTemplates(TSuperReference& sr, const TJson& portal);
  void WritePage(TSuperReference& sr, const std::string& path, const std::string& bytes);

  TDbFile* FDbF;
  std::unique_ptr<TSuperPageProducer> PageProducer1;
  std::vector<std::string> FSubPageStack;  // ids of the sub-pages being rendered
  std::string FVideoRoot;
  std::string FStreamServer;
};
