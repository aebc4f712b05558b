#pragma once
// Makes synthetic projects of a chosen size for benchmarks and the demo: films, channels,
// playlists, channel schedules and schedule sets, with their tree documents.
#include <cstdint>
#include <string>

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
