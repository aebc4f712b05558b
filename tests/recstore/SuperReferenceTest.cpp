#include <gtest/gtest.h>

#include "recstore/JrecClasses.h"
#include "support/TestSupport.h"

namespace {

struct SuperReferenceTest : ::testing::Test {
  TFakeOperator Op;
  TDbFile Db{&Op};
  TDbCollectionItem* Films;
  TDbCollectionItem* Lists;
  SuperReferenceTest() {
    Films = &Db.Collections().Add("Films");
    Lists = &Db.Collections().Add("PlayLists");
    Db.New();
    Films->SetRecordNo1("f1", {{"Name", "Film one"}});
    Lists->SetRecordNo1("p1", {{"Name", "List one"}});
  }
};

}  // namespace

TEST_F(SuperReferenceTest, BrokenReferenceNamesTheInnermostRecordAndAborts) {
  TSuperReference sr(&Op);
  sr.Push(*Lists, "p1", true);
  EXPECT_EQ((*sr.Get(*Films, "f1"))["Name"], "Film one");
  try {
    sr.Get(*Films, "missing");
    FAIL() << "a broken reference must abort";
  } catch (const EDbFException& e) {
    EXPECT_STREQ(e.what(), "Error in record: PlayLists List one. Invalid reference.");
  }
  ASSERT_EQ(Op.Messages.size(), 1u);
  EXPECT_TRUE(Op.Messages[0].Question);
  EXPECT_EQ(Op.Messages[0].Caption, "Error in record: PlayLists List one. Invalid reference.");
  EXPECT_EQ(Op.Messages[0].Text,
            "Error in record: PlayLists List one. Invalid reference. Open record to fix?");
  EXPECT_EQ(sr.Count(), 0);  // emptied: freeing the tracker raises nothing
  EXPECT_TRUE(Op.Opened.empty());  // the safe answer is Cancel
}

TEST_F(SuperReferenceTest, OkOpensTheFaultyRecord) {
  TSuperReference sr(&Op);
  Op.Answers.push_back(TMsgAnswer::Ok);
  sr.Push(*Lists, "p1", false);
  EXPECT_THROW(sr.Get(*Films, "gone"), EDbFException);
  ASSERT_EQ(Op.Opened.size(), 1u);
  EXPECT_EQ(Op.Opened[0], std::make_pair(std::string("PlayLists"), std::string("p1")));
}

TEST_F(SuperReferenceTest, TopRecordThatVanishedStillReports) {
  TSuperReference sr(&Op);
  sr.Push(*Lists, "ghost", false);
  try {
    sr.ShowErrorMsg("Something.", false);
    FAIL();
  } catch (const EDbFException& e) {
    EXPECT_STREQ(e.what(), "Error in record: PlayLists . Something.");
  }
  EXPECT_FALSE(Op.Messages.back().Question);
}

TEST_F(SuperReferenceTest, SilentReportsNothing) {
  TSuperReference sr(&Op);
  sr.Silent = true;
  sr.Push(*Lists, "p1", false);
  EXPECT_FALSE(sr.Get(*Films, "missing"));
  TJson table = TJson::parse(R"([[{"_ID":"f1","_CL":"Films"}]])");
  EXPECT_FALSE(sr.Get(*Films, table, 0, 5, "T", true));
  EXPECT_TRUE(Op.Messages.empty());
  EXPECT_EQ(sr.Count(), 1);
  // Push from a bad cell keeps push and pop balanced.
  EXPECT_FALSE(sr.Push(*Films, table, 3, 0, "T", true));
  EXPECT_EQ(sr.Count(), 2);
  sr.Pop();
  sr.Pop();
}

TEST_F(SuperReferenceTest, TableCellsAndMessageForms) {
  TJson table = TJson::parse(R"([[{"_ID":"f1","_CL":"Films"}, {"_ID":""}], [1]])");
  TSuperReference sr(&Op);
  sr.Push(*Lists, "p1", false);
  EXPECT_EQ((*sr.Get(*Films, table, 0, 0, "Items", false))["Name"], "Film one");
  auto expectReport = [&](int col, int row, const std::string& table_, const std::string& text) {
    sr.Push(*Lists, "p1", false);
    try {
      sr.Get(*Films, table, col, row, table_, false);
      FAIL() << text;
    } catch (const EDbFException& e) {
      EXPECT_EQ(std::string(e.what()), "Error in record: PlayLists List one. " + text);
    }
  };
  sr.Pop();
  expectReport(0, 2, "Items", "Table \"Items\", row \"3\". Reference to a nonexistent row");
  expectReport(1, 1, "", "Row \"2\". Reference to a nonexistent column");
  expectReport(1, 0, "Items", "Table \"Items\", row \"1\". ");
  sr.Push(*Lists, "p1", false);
  try {
    sr.ShowErrorMsg("Bad.", "Film", 4, "Items", false);
  } catch (const EDbFException& e) {
    EXPECT_STREQ(e.what(),
                 "Error in record: PlayLists List one. Table \"Items\", column \"Film\", row \"4\". Bad.");
  }
  sr.Push(*Lists, "p1", false);
  try {
    sr.ShowErrorMsg("Bad.", "Film", 4, "", false);
  } catch (const EDbFException& e) {
    EXPECT_STREQ(e.what(), "Error in record: PlayLists List one. Column \"Film\", row \"4\". Bad.");
  }
}

TEST_F(SuperReferenceTest, StackMisuseRaises) {
  {
    TSuperReference sr(&Op);
    try {
      sr.Pop();
      FAIL();
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Error super reference stack is already empty: ");
    }
    try {
      sr.Get("f1");
      FAIL();
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Error super reference, Collection not defined");
    }
    try {
      sr.ShowErrorMsg("x", false);
      FAIL();
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Error, invalid record!");
    }
    EXPECT_THROW(sr.ForceException("forced"), EDbFException);
    EXPECT_TRUE(Op.Messages.empty());
  }
  try {
    TSuperReference sr(&Op);
    sr.Push(*Films, "f1", true);
    sr.Push("f1");  // same collection as the top
    EXPECT_EQ(sr.Top().Item, Films);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Error super reference, stack in not empty: Films");
    return;
  }
  FAIL() << "freeing a tracker with live entries must raise";
}
