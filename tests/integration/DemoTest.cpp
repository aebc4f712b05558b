// The demo head-end as a newcomer makes it: `pelmora-cli demo DIR` with the real ffmpeg, which
// generates the films' clips, and the console's own length probe. Every check the console has
// must pass on it with no error and no warning.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "recstore/JsonText.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// The records of a collection, as `list` prints them: identifier and Name, folders left out.
std::vector<std::pair<std::string, std::string>> Records(const TTempDir& tmp,
                                                         const std::string& project,
                                                         const std::string& collection) {
  TCliRun r = RunCliIn(tmp, "--project '" + project + "' list " + collection);
  EXPECT_EQ(r.Code, 0) << r.Err;
  std::vector<std::pair<std::string, std::string>> out;
  std::istringstream lines(r.Out);
  for (std::string line; std::getline(lines, line);) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos || line.compare(tab + 1, 8, "[folder]") == 0) continue;
    out.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return out;
}

// One check an operator runs on every record of a collection before a deploy, and what in its
// result is a fault (empty: none).
struct TDemoCheck {
  const char* Collection;
  const char* Command;  // the record's identifier follows
  std::function<std::string(const TCliRun&)> Faults;
};

std::string ExitAndStderr(const TCliRun& r) {
  std::string faults;
  if (r.Code != 0) faults += "exit code " + std::to_string(r.Code) + "; ";
  if (!r.Err.empty()) faults += "stderr: " + r.Err;
  return faults;
}

// Every row of the channel schedule's check without a message in any slot.
std::string ScheduleRowFaults(const TCliRun& r) {
  std::string faults = ExitAndStderr(r);
  if (r.Code != 0) return faults;
  for (const TJson& row : ParseJsonText(r.Out)) {
    if (!row.contains("Row")) continue;  // the period line
    if (row["HasError"] != false || !row["Err"].empty())
      faults += "row " + row["Row"].dump() + " " + row["Times"].get<std::string>() + ": " +
                row["Err"].dump() + "; ";
  }
  return faults;
}

// The pre-flight check's findings: none at all, warnings included.
std::string PreflightFindings(const TCliRun& r) {
  std::string faults = ExitAndStderr(r);
  if (r.Code != 0) return faults;
  for (const TJson& finding : ParseJsonText(r.Out)) faults += finding.dump() + "; ";
  return faults;
}

const std::vector<TDemoCheck>& DemoChecks() {
  static const std::vector<TDemoCheck> checks = {
      {"ChSched", "--json check-schedule", ScheduleRowFaults},
      {"Schedules", "show-schedule", ExitAndStderr},
      // Without --yes: a question (a film file that is missing) gets the answer that stops.
      {"Servers", "build-package", ExitAndStderr},
      {"Servers", "--json check-servers", PreflightFindings},
  };
  return checks;
}

}  // namespace

TEST(DemoTest, DemoMadeWithClipsPassesEveryCheck) {
  TTempDir tmp;
  const std::string dir = tmp.File("demo");
  TCliRun made = RunCliIn(tmp, "demo '" + dir + "'");
  ASSERT_EQ(made.Code, 0) << made.Out << made.Err;
  const std::string project = dir + "/demo.pq2pr";
  ASSERT_TRUE(fs::is_regular_file(project));
  // It says what it made and how to open it.
  EXPECT_NE(made.Out.find("pelmora '" + project + "'"), std::string::npos) << made.Out;
  EXPECT_EQ(made.Out.find("ffmpeg was not found"), std::string::npos) << made.Out;

  // Every film resolves under the project's video root to a clip whose measured length is the
  // film's duration.
  TJson options = ParseJsonText(RunCliIn(tmp, "--project '" + project + "' get Options Options").Out);
  std::string root = options["WinVideoDir"].get<std::string>();
  ASSERT_EQ(root.rfind("..\\", 0), 0u) << root;  // inside the demo's folder
  const auto films = Records(tmp, project, "Films");
  ASSERT_FALSE(films.empty());
  for (const auto& [id, name] : films) {
    SCOPED_TRACE(name);
    TJson film = ParseJsonText(RunCliIn(tmp, "--project '" + project + "' get Films " + id).Out);
    std::string file = dir + "/" + root.substr(3) + "/" + film["FileName"].get<std::string>();
    for (char& c : file)
      if (c == '\\') c = '/';
    ASSERT_TRUE(fs::is_regular_file(file)) << file;
    TCliRun probe = RunCliIn(tmp, "probe '" + file + "'");
    ASSERT_EQ(probe.Code, 0) << probe.Err;
    EXPECT_EQ(film["Duration"].get<std::string>() + "\n", probe.Out);
  }

  size_t checked = 0;
  for (const TDemoCheck& check : DemoChecks()) {
    for (const auto& [id, name] : Records(tmp, project, check.Collection)) {
      SCOPED_TRACE(std::string(check.Command) + " " + check.Collection + " \"" + name + "\"");
      TCliRun r = RunCliIn(tmp, "--project '" + project + "' " + check.Command + " " + id);
      EXPECT_EQ(check.Faults(r), "") << r.Out;
      ++checked;
    }
  }
  EXPECT_GE(checked, 5u);  // two channel schedules, a schedule, a server built and checked
  EXPECT_TRUE(fs::is_regular_file(dir + "/servers/Playout 1/config.json"));
}
