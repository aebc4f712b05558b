// Randomized properties of the channel schedule recompute, over bounded schedules of a
// by-schedule channel made from fixed seeds (every run checks the same schedules):
// - the build places exactly the films check mode places (with the computed period when it is
//   automatic);
// - the rows of check mode tile each interval: the first row starts it, each row starts where
//   the previous one ended, the last one ends where the interval's content ends, and every
//   film the build places lies inside the range of one row of its interval;
// - the result of a row depends on nothing below the interval it belongs to: replacing the
//   content of every later interval changes none of its values or messages;
// - the automatic period is the least number of whole days from the first start past the end
//   of the content plus one second, and the gap up to the end of the period is reported.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>

#include "schedule/ChSchedCheck.h"
#include "schedule/DoSchedule.h"
#include "schedule/ScheduleFixture.h"

namespace {

constexpr TDateTime Tol = 1e-9;
const char* const GroupMsg = "No place for the movies group. Failed condition \"Keep With Next\"";

std::string Offset(int minutes) {
  return fmt::format("{} {:02}:{:02}:00", minutes / 1440, minutes / 60 % 24, minutes % 60);
}

struct TCase {
  TJson Rec;
  std::optional<int> FirstStart;  // minutes; none when the first row has no start time
  std::vector<size_t> Opening;    // the rows that open an interval, in order
};

struct RecomputeProperty : ScheduleDbTest {
  std::mt19937 Gen;
  int Overlaps = 0;  // cases whose intervals overlap (refused by the build)
  RecomputeProperty() {
    AddChannel("ch", 0, "Movies");
    AddFilm("plain", "00:01:00,000");
  }
  // Uniform enough for test data and the same with every standard library.
  int Rnd(int lo, int hi) { return lo + static_cast<int>(Gen() % static_cast<uint32_t>(hi - lo + 1)); }

  TCase Make(uint32_t seed) {
    Gen.seed(seed);
    for (int f = 0; f < 6; ++f)
      AddFilm("f" + std::to_string(f), fmt::format("00:{:02}:00,000", Rnd(1, 40)), Rnd(0, 99) < 35);
    for (int p = 0; p < 3; ++p) {
      TJson tbl = TJson::array();
      for (int k = Rnd(1, 3); k > 0; --k) tbl.push_back(TJson::array({FilmRef("f" + std::to_string(Rnd(0, 5)))}));
      Col("PlayLists").SetRecordNo1("p" + std::to_string(p), {{"Name", "p"}, {"Repeat", Rnd(1, 2)}, {"Table", tbl}});
    }
    TCase c;
    TJson tbl = TJson::array();
    int n = Rnd(1, 6);
    bool firstTimed = Rnd(0, 4) != 0;
    int t = firstTimed ? Rnd(0, 2) * 1440 + Rnd(0, 23) * 60 : 0;
    if (firstTimed) c.FirstStart = t;
    int first = t;
    for (int i = 0; i < n; ++i) {
      bool timed = i == 0 ? firstTimed : Rnd(0, 9) < 4;
      if (timed && i > 0) t += Rnd(5, 120);
      if (timed || i == 0) c.Opening.push_back(static_cast<size_t>(i));
      TJson content = Rnd(0, 9) < 5 ? FilmRef("f" + std::to_string(Rnd(0, 5))) : ListRef("p" + std::to_string(Rnd(0, 2)));
      tbl.push_back(Row(timed ? Offset(t) : "", Rnd(0, 1), content));
    }
    c.Rec = ChSched("ch", Offset(t - first + Rnd(1, 240)), Rnd(0, 1) == 1, {});
    c.Rec["Table"] = tbl;
    return c;
  }

  // Check mode as the editor runs it: the period is unlimited when it is automatic.
  std::vector<TOneFilmInfo> Check(const TJson& rec, TSchedule& sh) {
    TJson copy = rec;
    if (JsonBool(rec, "AutoPeriod")) copy["Period"] = "99999 00:00:00";
    std::vector<TOneFilmInfo> rows;
    TSuperReference sr(&Op);
    ChannelBuild(sr, *Db, "cs", copy, sh, rows, true);
    return rows;
  }

  void CheckCase(const TCase& c, int& removals, int& removalsInsideARow) {
    const TJson& rec = c.Rec;
    Col("ChSched").SetRecordNo1("cs", rec);
    size_t n = rec["Table"].size();
    bool autoPeriod = JsonBool(rec, "AutoPeriod");
    TSchedule chk(Db.get());
    std::vector<TOneFilmInfo> rows = Check(rec, chk);
    TChSchedRecompute view = RecomputeChSched(*Db, "cs", rec, &Op);
    ASSERT_EQ(view.Rows.size(), n);
    ASSERT_EQ(view.Period.has_value(), autoPeriod);

    // The build with the period the editor shows.
    TJson buildRec = rec;
    if (autoPeriod) buildRec["Period"] = DeltaTimeToStr(*view.Period);
    TSchedule bld(Db.get());
    bld.CheckZeroTime = false;
    std::vector<TOneFilmInfo> unused;
    TSuperReference sr(&Op);
    // A keep-with-next group still open at the end of an interval may run past the next start:
    // check mode says so in that row, and the build refuses the overlap.
    const bool overlaps = std::any_of(rows.begin(), rows.end(), [](const TOneFilmInfo& r) {
      return r.Err[TimeErr].find("The rows above play until") != std::string::npos;
    });
    if (overlaps) {
      ++Overlaps;
      try {
        ChannelBuild(sr, *Db, "cs", buildRec, bld, unused, false);
        ADD_FAILURE() << "an overlap was built";
      } catch (const EDbFException& e) {
        EXPECT_NE(std::string(e.what()).find("Two intervals of one channel overlap"), std::string::npos) << e.what();
      }
      return;
    }
    ASSERT_NO_THROW(ChannelBuild(sr, *Db, "cs", buildRec, bld, unused, false));
    ASSERT_EQ(bld.Intervals.size(), c.Opening.size());
    ASSERT_EQ(chk.Intervals.size(), c.Opening.size());
    for (size_t k = 0; k < c.Opening.size(); ++k) {
      const TScheduleInterval& b = *bld.Intervals[k];
      const TScheduleInterval& a = *chk.Intervals[k];
      ASSERT_EQ(b.ScheduleNotes.size(), a.ScheduleNotes.size()) << "interval " << k;
      for (size_t m = 0; m < b.ScheduleNotes.size(); ++m) {
        EXPECT_EQ(b.ScheduleNotes[m].Film->_ID, a.ScheduleNotes[m].Film->_ID);
        EXPECT_NEAR(b.ScheduleNotes[m].DateTime, a.ScheduleNotes[m].DateTime, Tol);
      }
    }

    // Rows tile their interval; every placed film lies inside one row of its interval.
    for (size_t k = 0; k < c.Opening.size(); ++k) {
      size_t lo = c.Opening[k], hi = k + 1 < c.Opening.size() ? c.Opening[k + 1] : n;
      std::vector<size_t> placed;  // rows whose content was walked
      for (size_t i = lo; i < hi; ++i) {
        bool walked = rows[i].HasError || TimeGreater(rows[i].EndT, rows[i].Start);
        if (walked) {
          EXPECT_EQ(placed.size(), i - lo) << "row " << i + 1 << " walked after a skipped row";
          placed.push_back(i);
        }
        if (rows[i].Err[FilmDeleted] == GroupMsg) {
          ++removals;
          if (TimeGreater(rows[i].EndT, rows[i].Start)) ++removalsInsideARow;
        }
      }
      const TScheduleInterval& iv = *bld.Intervals[k];
      ASSERT_FALSE(placed.empty());
      EXPECT_EQ(placed[0], lo);
      EXPECT_NEAR(rows[lo].Start, iv.StartTime, Tol) << "row " << lo + 1;
      for (size_t j = 1; j < placed.size(); ++j)
        EXPECT_NEAR(rows[placed[j]].Start, rows[placed[j - 1]].EndT, Tol) << "row " << placed[j] + 1;
      EXPECT_NEAR(rows[placed.back()].EndT, iv.TempEndTime, Tol) << "row " << placed.back() + 1;
      for (size_t m = 0; m < iv.ScheduleNotes.size(); ++m) {
        const TScheduleNote& note = iv.ScheduleNotes[m];
        auto in = std::find_if(placed.begin(), placed.end(), [&](size_t r) {
          return rows[r].Start <= note.DateTime + Tol && note.DateTime < rows[r].EndT - Tol;
        });
        ASSERT_NE(in, placed.end()) << note.Film->_ID << " at " << DurationToDisplayStr(note.DateTime)
                                    << " is in no row of interval " << k;
        bool cut = m + 1 == iv.ScheduleNotes.size() && TimeEqual(rows[*in].EndT, chk.Intervals[k]->EndTime);
        if (!cut) {
          EXPECT_LE(note.DateTime + note.Film->Duration, rows[*in].EndT + Tol);
        }
      }
    }

    // Later intervals do not reach back: with other content below, the rows above stay.
    for (size_t k = 1; k < c.Opening.size(); ++k) {
      TJson other = rec;
      for (size_t i = c.Opening[k]; i < n; ++i) other["Table"][i][2] = FilmRef("plain");
      TSchedule sh(Db.get());
      std::vector<TOneFilmInfo> alt = Check(other, sh);
      for (size_t i = 0; i < c.Opening[k]; ++i) {
        EXPECT_NEAR(alt[i].Start, rows[i].Start, Tol) << "row " << i + 1;
        EXPECT_NEAR(alt[i].EndT, rows[i].EndT, Tol) << "row " << i + 1;
        EXPECT_NEAR(alt[i].Duration, rows[i].Duration, Tol) << "row " << i + 1;
        EXPECT_EQ(alt[i].Err, rows[i].Err) << "row " << i + 1;
      }
    }

    // The period and the gap up to its end, counted from the first start.
    TDateTime b = c.FirstStart ? *c.FirstStart / 1440.0 : 0;
    TDateTime last = rows[n - 1].EndT;
    TDateTime period = StrToDeltaTime(JsonStr(rec, "Period"));
    if (autoPeriod) {
      TDateTime want = c.FirstStart ? std::ceil(last + OneSecond - b - TimeEpsilon) : last;
      EXPECT_NEAR(*view.Period, want, Tol);
      period = *view.Period;
    }
    size_t playing = n - 1;  // the gap is told on the last row that plays
    while (playing > 0 && rows[playing].Dropped) --playing;
    const TChSchedRowView& lv = view.Rows[playing];
    if (lv.Err[TimeErr].empty() && lv.Err[Period].empty() && lv.Err[InvalidReference].empty()) {
      TDateTime gap = period + b - last;
      std::string want = gap > 500 * OneMSec + TimeEpsilon
                             ? fmt::format("Interruption in the broadcast of {} from {} to {}",
                                           DurationToDisplayStr(gap), DurationToDisplayStr(last),
                                           DurationToDisplayStr(period + b))
                             : "";
      EXPECT_EQ(lv.Err[Pause], want);
    }
  }
};

}  // namespace

TEST_F(RecomputeProperty, CheckModeAgreesWithTheBuild) {
  int removals = 0, removalsInsideARow = 0;
  for (uint32_t seed = 1; seed <= 1500; ++seed) {
    TCase c = Make(seed);
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + c.Rec["Table"].dump() + " period " +
                 JsonStr(c.Rec, "Period") + (JsonBool(c.Rec, "AutoPeriod") ? " auto" : ""));
    CheckCase(c, removals, removalsInsideARow);
    if (HasFailure()) break;
  }
  // The generated schedules reach the removal of keep-with-next groups, also of groups that
  // began inside a row.
  EXPECT_GT(removals, 20);
  EXPECT_GT(removalsInsideARow, 5);
}
