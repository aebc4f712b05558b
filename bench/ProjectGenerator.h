#pragma once
// Makes synthetic projects of a chosen size for benchmarks and the demo: films, channels,
// playlists, channel schedules and schedule sets, with their tree documents.
#include <cstdint>
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"

struct TProjectSize {
  int Films = 100;
  int Channels = 10;
  int PlayLists = 20;
  int ChSchedules = 10;
  int Schedules = 2;
  uint32_t Seed = 1;
};

// Fills Db (an open main database) in memory; the caller saves.
void GenerateProject(TDbFile& db, const TProjectSize& size);
// Film count that gives a project file of about Bytes.
int FilmsForBytes(size_t bytes);
// A reference cell to record Id of collection Cl.
inline TJson RecordRef(const std::string& cl, const std::string& id) { return {{"_ID", id}, {"_CL", cl}}; }
// The identifiers of a collection's records in the in-memory project.
std::vector<std::string> RecordIds(TDbFile& db, const std::string& coll);
