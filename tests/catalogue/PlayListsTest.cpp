#include "catalogue/PlayLists.h"
#include "schedule/ScheduleFixture.h"

namespace {
struct PlayListsTest : ScheduleDbTest {
  PlayListsTest() {
    AddFilm("half", "00:30:00,000");
    AddFilm("zero", "00:00:00,000");
    AddFilm("long", "20:00:00,000");
  }
  static TJson Table(std::initializer_list<TJson> refs) {
    TJson t = TJson::array();
    for (const TJson& r : refs) t.push_back(TJson::array({r}));
    return t;
  }
};
}  // namespace

TEST_F(PlayListsTest, EmptyPlaylist) {
  TPlayListFigures f = PlayListFigures(*Db, TJson::array(), 1);
  EXPECT_EQ(f.Label, "- - playlist duration");
  EXPECT_TRUE(f.Durations.empty());
}

TEST_F(PlayListsTest, RepeatedHalfHour) {
  TPlayListFigures f = PlayListFigures(*Db, Table({FilmRef("half")}), 3);
  EXPECT_EQ(f.Durations, std::vector<std::string>{"00:30:00"});
  EXPECT_EQ(f.Summaries, std::vector<std::string>{"01:30:00"});
  EXPECT_EQ(f.Label, "01:30:00 - playlist duration");
}

TEST_F(PlayListsTest, UnknownItemMakesTheTotalUnknown) {
  TPlayListFigures f = PlayListFigures(*Db, Table({FilmRef("half"), FilmRef("zero"), FilmRef("missing")}), 1);
  EXPECT_EQ(f.Durations, (std::vector<std::string>{"00:30:00", "-", "-"}));
  EXPECT_EQ(f.Label, "- - playlist duration");
}

TEST_F(PlayListsTest, NestedSelfAndDays) {
  AddList("inner", {FilmRef("half"), FilmRef("half")}, 2);
  AddList("self", {FilmRef("half"), ListRef("self")});
  AddList("days", {FilmRef("long"), FilmRef("long")});
  EXPECT_NEAR(ReferenceDuration(*Db, ListRef("inner")), Hms(2), 1e-12);
  EXPECT_EQ(ReferenceDuration(*Db, ListRef("self")), 0);
  TPlayListFigures f = PlayListFigures(*Db, Table({ListRef("self")}), 1);
  EXPECT_EQ(f.Durations[0], "-");
  f = PlayListFigures(*Db, Table({ListRef("days"), ListRef("inner")}), 1);
  EXPECT_EQ(f.Durations[0], "1 16:00:00");
  EXPECT_EQ(f.Label, "1 18:00:00 - playlist duration");
  AddList("norepeat", {FilmRef("half")}, 0);
  Col("PlayLists").SetRecordNo1("nokey", {{"Name", "n"}, {"Table", Table({FilmRef("half")})}});
  EXPECT_EQ(ReferenceDuration(*Db, ListRef("nokey")), 0);
  EXPECT_EQ(ReferenceDuration(*Db, Ref("Channels", "x")), 0);
}
