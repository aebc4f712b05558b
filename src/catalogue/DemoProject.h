#pragma once
// The demo head-end in one step: a new folder of the user's gets a project with the demo's
// records, the demo portal's HTML templates and, when ffmpeg is there, a short generated clip
// for every film, whose measured length becomes the film's duration. The demo's channel
// schedules are laid out for these lengths, so they check clean and the server's package
// builds. Used by `pelmora-cli demo` and `pelmora --demo`.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class IOperator;

// The folder or file refused: it holds something (the demo is never made over anything).
class EDemoRefused : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The demo's records as the program ships them: "demo" beside the program (a build tree), or
// <prefix>/share/pelmora/demo when installed.
std::string DemoSourceDir();
// ~/pelmora-demo.
std::string DefaultDemoDir();
// "demo.pq2pr": the project file inside the demo's folder.
extern const char* const DemoProjectName;

struct TDemoResult {
  std::string Dir;          // absolute
  std::string ProjectFile;  // absolute
  size_t Records = 0;       // records imported
  std::vector<std::string> Clips;  // the clips made, relative to the demo's folder
  bool FfmpegMissing = false;
  // What the operator is told besides: a clip that could not be made or measured.
  std::vector<std::string> Notes;
};

// Called before each step: its text, the number of the step (from 0) and the number of steps.
using TDemoProgress = std::function<void(const std::string& text, int step, int steps)>;

// Makes the demo in Dir, which must not exist or be an empty folder; otherwise raises
// EDemoRefused, naming it, and changes nothing. Clips are made with FfmpegPath ("" finds ffmpeg
// as the encoder does); without ffmpeg the films keep the lengths the schedules were laid out
// for and the demo has no clips. Other failures raise std::runtime_error with the reason.
TDemoResult MakeDemoProject(const std::string& dir, IOperator* op,
                            const TDemoProgress& progress = {},
                            const std::string& sourceDir = DemoSourceDir(),
                            const std::string& ffmpegPath = "");

// The lines that tell the operator what was made and how to open it.
std::vector<std::string> DemoSummary(const TDemoResult& r);
