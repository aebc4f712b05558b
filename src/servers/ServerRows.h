#pragma once
// The schedule rows of a server record, read and checked: what "Create files", the guide and
// every other reader of a server's plan share.
#include <memory>
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"
#include "schedule/DoSchedule.h"

// "Calc from" and "Start at" of a server's schedule row I; a malformed value, or a missing
// "Start at" after the first row, is reported on its grid cell (which aborts).
struct TRowTimes {
  TDateTime Calc = 0;
  TDateTime Start = 0;
  bool HasStart = false;
};
TRowTimes ReadRowTimes(TSuperReference& supRef, const TJson& row, size_t i);

// One schedule row of a server, read and checked.
struct TServerRow {
  size_t Index = 0;
  TRowTimes Times;
  std::string ScheduleID;  // "" in the head-end-only first row
  std::string OptionsID;
  TJson Options;           // the row's SrvOptions record
  // Built in build mode, with the head-end channels of the row's STB groups.
  std::shared_ptr<TSchedule> Schedule;
  std::string FileName;  // the schedule file's name without ".json" (PackageScheduleName)
};

// Reads every "TSched" row of Server (the server record is on top of SupRef): the times, the
// schedule reference (missing only in the first row, else reported on the server's row), the
// server options, the built schedule and its head-end channels. An error is reported through
// SupRef and raises EDbFException.
std::vector<TServerRow> ReadServerRows(TSuperReference& supRef, TDbFile& db, const TJson& server,
                                       IOperator& Op);

// Adds the head-end channels of the STB groups of a SrvOptions record to the schedule; a
// channel of a group that is neither scheduled nor head-end is reported (aborts).
void AddHeadEndChannels(TSuperReference& supRef, TDbFile& db, const TJson& srvOptions,
                        TSchedule& sh);

// The name a schedule's file gets in the package ("headend" for the head-end-only row); a
// name that cannot be one file inside the package is reported naming the Schedules record.
std::string PackageScheduleName(TSuperReference& supRef, TDbFile& db, const TServerRow& row);
