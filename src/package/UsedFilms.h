#pragma once
// The films of one package build: which film files go to the server under which names. Shared
// by the schedule files and the portal pages of the package.
#include <string>
#include <vector>

#include "base/Operator.h"

struct TWinLinuxNames {
  std::string Win;    // full path of the film file on this machine
  std::string Linux;  // transliterated, lower-cased relative name
};
struct TMovieAttributes {
  std::string ID;
  std::string HtmlFileName;
  std::string Name;
};
// The films of one package build, shared by every schedule row and the portal pages.
struct TUsedFilms {
  std::vector<TWinLinuxNames> InUse;  // sorted by Linux (ordinal)
  std::vector<TMovieAttributes> ByID;
  std::vector<std::string> NotFounded;
};

struct TMapFilmResult {
  std::string ServerPath;
  std::string Error;  // "" when the film may go into the package
};
// Maps the file name of film ID (titled Name in messages) to its name on the server and records
// it in Used. Asks the operator about a missing file and about two films that would get the
// same server name. A file name that would leave the video folder ("..", an absolute path) is
// refused.
TMapFilmResult MapFilmName(const std::string& id, const std::string& name,
                           const std::string& fileName, const std::string& videoRoot,
                           TUsedFilms& used, IOperator& op);
