#include <filesystem>
#include <memory>

#include "schedule/ScheduleClasses.h"
#include "schedule/ScheduleFixture.h"

namespace fs = std::filesystem;

namespace {

struct ScheduleModelTest : ScheduleDbTest {
  std::unique_ptr<TSuperReference> SupRefPtr = std::make_unique<TSuperReference>(&Op);
  TSuperReference& SupRef = *SupRefPtr;
  TSchedule Sh{Db.get()};
  ScheduleModelTest() {
    AddFilm("a", "01:00:00,000");
    AddFilm("b", "00:30:00,000");
    AddFilm("k", "00:20:00,000", true);
    AddFilm("k2", "00:10:00,000", true);
  }
  TScheduleInterval* Interval(TIntervalType typ, TDateTime start, TDateTime end) {
    return Sh.AddInterval("ch", start, end, 1, typ, false);
  }
};

}  // namespace

TEST_F(ScheduleModelTest, PlaceholderFilmForAnUnknownId) {
  TFilm f(&SupRef, *Db, "nope", false);
  EXPECT_EQ(f.Duration, 1.0 / 16777216.0);
  EXPECT_TRUE(f.IsInvalid());
  EXPECT_EQ(f.Name, "Invalid reference.");
  EXPECT_EQ(f.FileName, "");
  EXPECT_FALSE(f.ShowInSchedule);
  EXPECT_FALSE(f.KeepWithNext);
  EXPECT_TRUE(Op.Messages.empty());
}

TEST_F(ScheduleModelTest, UnknownFilmAbortsWhenExceptionsAreAsked) {
  SupRef.Push(Col("ChSched"), "x", false);
  EXPECT_THROW(TFilm(&SupRef, *Db, "nope", true), EDbFException);
  EXPECT_EQ(SupRef.Count(), 0);
}

TEST_F(ScheduleModelTest, FilmReadsItsRecord) {
  TFilm f(&SupRef, *Db, "k", false);
  EXPECT_NEAR(f.Duration, Hms(0, 20), 1e-12);
  EXPECT_TRUE(f.KeepWithNext);
  EXPECT_TRUE(f.ShowInSchedule);
  EXPECT_EQ(f.FileName, "k.m2t");
}

TEST_F(ScheduleModelTest, UnlimitedNotesFollowEachOtherAndShareFilms) {
  auto* in = Interval(Cut, Hms(1), 0);
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "a"));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "b"));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "a"));
  ASSERT_EQ(in->NotesCount(), 3u);
  EXPECT_NE(in->ScheduleNotes[0].Film, in->ScheduleNotes[1].Film);
  EXPECT_NEAR(in->ScheduleNotes[1].DateTime, Hms(2), 1e-12);
  EXPECT_NEAR(in->ScheduleNotes[2].DateTime, Hms(2, 30), 1e-12);
  EXPECT_NEAR(in->TempEndTime, Hms(3, 30), 1e-12);
  EXPECT_EQ(in->ScheduleNotes[0].Film, in->ScheduleNotes[2].Film);
  // Every interval of the build places the same film object; an unknown id gets the
  // interval's own placeholder.
  auto* later = Interval(Cut, Hms(4), 0);
  EXPECT_TRUE(later->AddScheduleNote(&SupRef, "a"));
  EXPECT_TRUE(later->AddScheduleNote(&SupRef, "nope"));
  EXPECT_TRUE(later->AddScheduleNote(&SupRef, "nope"));
  EXPECT_EQ(later->ScheduleNotes[0].Film, in->ScheduleNotes[0].Film);
  EXPECT_TRUE(later->ScheduleNotes[1].Film->IsInvalid());
  EXPECT_EQ(later->ScheduleNotes[1].Film, later->ScheduleNotes[2].Film);
  EXPECT_EQ(later->Films.size(), 1u);
}

TEST_F(ScheduleModelTest, KeepWithNextGroupIsRemovedTogether) {
  auto* in = Interval(Del, 0, Hms(1, 10));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "b", in->EndTime));   // 0:00-0:30
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "k", in->EndTime));   // 0:30-0:50, chain open
  EXPECT_EQ(in->KeepWithNextCount, 1);
  EXPECT_FALSE(in->AddScheduleNote(&SupRef, "a", in->EndTime));  // overflows: both go
  EXPECT_EQ(in->NotesCount(), 1u);
  EXPECT_NEAR(in->TempEndTime, Hms(0, 30), 1e-12);
  EXPECT_EQ(in->KeepWithNextCount, 0);
}

TEST_F(ScheduleModelTest, OpenChainToleratesOverflowUntilItsLastFilm) {
  auto* in = Interval(Del, 0, Hms(0, 25));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "k", in->EndTime));   // 0:00-0:20
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "k2", in->EndTime));  // 0:20-0:30 overflow tolerated
  EXPECT_EQ(in->NotesCount(), 2u);
  EXPECT_FALSE(in->AddScheduleNote(&SupRef, "b", in->EndTime));  // the whole chain goes
  EXPECT_EQ(in->NotesCount(), 0u);
  EXPECT_NEAR(in->TempEndTime, 0, 1e-12);
}

TEST_F(ScheduleModelTest, DelDropsOnlyTheFilmThatDoesNotFit) {
  auto* in = Interval(Del, 0, Hms(1, 20));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "a", in->EndTime));
  EXPECT_FALSE(in->AddScheduleNote(&SupRef, "b", in->EndTime));
  EXPECT_EQ(in->NotesCount(), 1u);
  EXPECT_NEAR(in->TempEndTime, Hms(1), 1e-12);
}

TEST_F(ScheduleModelTest, CutAtTheLimitPlacesNothing) {
  auto* in = Interval(Cut, 0, Hms(1));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "a", in->EndTime));
  EXPECT_FALSE(in->AddScheduleNote(&SupRef, "b", in->EndTime));
  EXPECT_EQ(in->NotesCount(), 1u);
  EXPECT_EQ(in->RedusedFilm, nullptr);
}

TEST_F(ScheduleModelTest, ExactFillIsNotReduced) {
  auto* in = Interval(Cut, 0, Hms(1));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "b", in->EndTime));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "b", in->EndTime));
  EXPECT_EQ(in->RedusedFilm, nullptr);
  EXPECT_NEAR(in->TempEndTime, Hms(1), 1e-12);
}

TEST_F(ScheduleModelTest, CutReducesTheLastFilm) {
  auto* in = Interval(Cut, 0, Hms(1, 10));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "a", in->EndTime));
  EXPECT_TRUE(in->AddScheduleNote(&SupRef, "b", in->EndTime));
  ASSERT_NE(in->RedusedFilm, nullptr);
  EXPECT_EQ(in->RedusedFilm->_ID, "b");
  EXPECT_NEAR(in->RedusedFilmDuration, Hms(0, 10), 1e-12);
  EXPECT_NEAR(in->TempEndTime, Hms(1, 10), 1e-12);
}

TEST_F(ScheduleModelTest, PlaceholderAddsNothingToCalcDuration) {
  auto* in = Interval(Cut, 0, 0);
  EXPECT_TRUE(in->CalcDuration(&SupRef, "a"));
  EXPECT_FALSE(in->CalcDuration(&SupRef, "missing"));
  EXPECT_NEAR(in->LastMediaDuration, Hms(1), 1e-12);
}

TEST_F(ScheduleModelTest, NegativeDelayBeforeTheStartFails) {
  TJson cmds = TJson::parse(R"([{"stbpower":{"Method":"command","Value":"1","Delay":-10}}])");
  auto* in = Interval(Cut, 0, 0);
  in->TempEndTime = Hms(0, 0, 5);
  TOneFilmInfo info;
  EXPECT_FALSE(in->AddScheduleCmd(&cmds, info));
  EXPECT_EQ(info.Err[TimeErr],
            "It is impossible to execute command before the start of its interval! Delay must be positive!");
  EXPECT_EQ(in->CmdCount(), 0u);

  // A second interval, an hour after the schedule starts: the same delay reaches back before
  // its own start, and the message says so.
  auto* second = Interval(Cut, Hms(1), 0);
  second->TempEndTime = Hms(1, 0, 5);
  TOneFilmInfo info3;
  EXPECT_FALSE(second->AddScheduleCmd(&cmds, info3));
  EXPECT_EQ(info3.Err[TimeErr],
            "It is impossible to execute command before the start of its interval! Delay must be positive!");
  EXPECT_EQ(second->CmdCount(), 0u);

  TOneFilmInfo info2;
  in->TempEndTime = Hms(0, 0, 10);
  EXPECT_TRUE(in->AddScheduleCmd(&cmds, info2));
  ASSERT_EQ(in->CmdCount(), 1u);
  EXPECT_NEAR(in->ScheduleCmd[0].DateTime, 0, 1e-12);
  EXPECT_EQ(in->ScheduleCmd[0].text, "stbpower 1");
  EXPECT_TRUE(info2.Err[TimeErr].empty());
}

TEST_F(ScheduleModelTest, CommandTextsAndTimes) {
  TJson cmds = TJson::parse(R"([
    {"showtext":{"Method":"command","Value":"box","Text":"Hello","Time":"0 00:01:30","Delay":2.5}},
    {"none":{"Method":"start_channel","Value":"ch1","Time":"1 00:00:10","Delay":0}},
    {"none":{"Method":"setvariable","Value":"v","Val2":"7","Delay":-1}},
    {"channel":{"Method":"command","Value":"ch2"}}
  ])");
  auto* in = Interval(Cut, 0, 0);
  in->TempEndTime = Hms(1);
  TOneFilmInfo info;
  ASSERT_TRUE(in->AddScheduleCmd(&cmds, info));
  ASSERT_EQ(in->CmdCount(), 4u);
  EXPECT_EQ(in->ScheduleCmd[0].text, "showtext \"box\" \"Hello\" 90000");
  EXPECT_NEAR(in->ScheduleCmd[0].DateTime, Hms(1, 0, 2, 500), 1e-12);
  EXPECT_EQ(in->ScheduleCmd[1].text, "start_channel ch1, \"86410\"");
  EXPECT_EQ(in->ScheduleCmd[2].text, "setvariable v \"7\"");
  EXPECT_NEAR(in->ScheduleCmd[2].DateTime, Hms(0, 59, 59), 1e-12);
  EXPECT_EQ(in->ScheduleCmd[3].text, "channel ch2");
  EXPECT_NEAR(info.Start, Hms(0, 59, 59), 1e-12);
  EXPECT_NEAR(info.EndT, Hms(1, 0, 2, 500), 1e-12);
  EXPECT_NEAR(info.Duration, Hms(0, 0, 3, 500), 1e-12);
  EXPECT_NEAR(in->LastCmdTime, Hms(1, 0, 2, 500), 1e-12);
  in->CmdSort();
  EXPECT_EQ(in->ScheduleCmd[0].text, "setvariable v \"7\"");
  EXPECT_NEAR(in->GetLastCmd(), Hms(1, 0, 2, 500), 1e-12);
}

TEST_F(ScheduleModelTest, CommandsCellThatIsNotAnArray) {
  auto* in = Interval(Cut, 0, 0);
  TOneFilmInfo info;
  TJson notArray = "x";
  EXPECT_FALSE(in->AddScheduleCmd(&notArray, info));
  EXPECT_FALSE(in->AddScheduleCmd(nullptr, info));
  TJson empty = TJson::array();
  info.Start = Hms(1);
  info.EndT = Hms(2);
  EXPECT_TRUE(in->AddScheduleCmd(&empty, info));
  EXPECT_NEAR(info.Duration, Hms(1), 1e-12);
}

TEST_F(ScheduleModelTest, ChannelsAreListedOnce) {
  Sh.AddInterval("c1", 0, 0, 1, Cut, false);
  Sh.AddInterval("c2", 0, 0, 1, Cut, false);
  Sh.AddInterval("c1", 0, 0, 1, Cut, false);
  Sh.AddChannel("C1");
  EXPECT_EQ(Sh.ChannelsId, (std::vector<std::string>{"c1", "c2", "C1"}));
  EXPECT_EQ(Sh.CurrentFilmIndexInChannel.size(), 3u);
  EXPECT_EQ(Sh.IntervalsCount(), 3u);
}

TEST(FilmListArrayTest, IdenticalListsShareOneFileAndOldFilesAreReused) {
  TTempDir dir;
  std::string path = dir.Path().string() + "/";
  {
    TFilmListArray pls(path, ".pls");
    pls.Add().Add("/inbox/a.m2t\t5.0");
    EXPECT_EQ(pls.SaveFile(), 0);
    pls.Add().Add("/inbox/a.m2t\t5.0");
    EXPECT_EQ(pls.SaveFile(), 0);
    TFilmList& l = pls.Add();
    l.Add("/inbox/b.m2t\t4.0");
    l.Add("/inbox/Ночь.m2t\t3.500");
    EXPECT_EQ(pls.SaveFile(), 1);
    EXPECT_EQ(pls.Count(), 2);
  }
  EXPECT_EQ(ReadFileBytes(path + "0.pls"), "/inbox/a.m2t\t5.0\n");
  EXPECT_EQ(ReadFileBytes(path + "1.pls"), "/inbox/b.m2t\t4.0\n/inbox/Ночь.m2t\t3.500\n");
  EXPECT_FALSE(fs::exists(path + "2.pls"));

  TFilmListArray again(path, ".pls");
  ASSERT_EQ(again.Count(), 2);
  EXPECT_FALSE(again.Items[1]->used);
  TFilmList& l = again.Add();
  l.Add("/inbox/b.m2t\t4.0");
  l.Add("/inbox/Ночь.m2t\t3.500");
  EXPECT_EQ(again.SaveFile(), 1);
  EXPECT_TRUE(again.Items[1]->used);
  EXPECT_FALSE(again.Items[0]->used);
  again.Add().Add("other");
  EXPECT_EQ(again.SaveFile(), 2);
  EXPECT_EQ(ReadFileBytes(path + "2.pls"), "other\n");
}

TEST(FilmListArrayTest, EmptyListWritesNothing) {
  TTempDir dir;
  TFilmListArray cmdp(dir.Path().string() + "/", ".cmdp");
  EXPECT_FALSE(cmdp.Add().SaveToFile(0));
  EXPECT_FALSE(fs::exists(dir.File("0.cmdp")));
}
