// The rules of the films and channels windows that need no window.
#include <gtest/gtest.h>

#include "catalogue/Channels.h"
#include "catalogue/Films.h"

TEST(Films, AChosenFileMustLieBelowTheVideoRoot) {
  struct TCase {
    std::string Root, Chosen;
    bool Accepted;
    std::string FileName, Name;
  };
  const TCase cases[] = {
      {"/srv/VIDEO/", "/srv/VIDEO/a/b.m2t", true, "a\\b.m2t", "b"},
      {"/srv/VIDEO/", "/srv/video/a/b.m2t", false, "", ""},  // another folder here: case counts
      {"/srv/video", "/srv/video/film.m2t", true, "film.m2t", "film"},
      {"/srv/video", "/srv/video/x.y/ep.01.m2t", true, "x.y\\ep.01.m2t", "ep.01"},
      {"/srv/video", "/srv/videos/film.m2t", false, "", ""},  // not at a folder boundary
      {"/srv/video", "/tmp/film.m2t", false, "", ""},
      {"", "/srv/video/film.m2t", false, "", ""},  // no root: nothing is accepted
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Chosen);
    TFilmFileChoice r = ChooseFilmFile(c.Root, c.Chosen);
    EXPECT_EQ(r.Accepted, c.Accepted);
    EXPECT_EQ(r.FileName, c.FileName);
    EXPECT_EQ(r.Name, c.Name);
    if (!c.Accepted)
      EXPECT_EQ(r.Error, "File \"" + c.Chosen + "\" placed not in Video root directory \"" +
                             c.Root + "\" or in it subdirectories!");
  }
  EXPECT_EQ(FilmAbsolutePath("/srv/video", "a\\b.m2t"), "/srv/video/a/b.m2t");
  EXPECT_EQ(FilmAbsolutePath("/srv/video/", "\\b.m2t"), "/srv/video/b.m2t");
  EXPECT_EQ(FilmAbsolutePath("", "b.m2t"), "");
}

TEST(Films, TimeBarSeeksAtMostTo99AndAHalfPercent) {
  EXPECT_DOUBLE_EQ(TimeBarSeekPercent(0), 0);
  EXPECT_DOUBLE_EQ(TimeBarSeekPercent(500), 50);
  EXPECT_DOUBLE_EQ(TimeBarSeekPercent(995), 99.5);
  EXPECT_DOUBLE_EQ(TimeBarSeekPercent(1000), 99.5);
  EXPECT_EQ(TimeBarOfPosition(0.4567), 457);
  EXPECT_EQ(TimeBarOfPosition(1.2), 1000);
  EXPECT_EQ(TimeBarOfPosition(-0.1), 0);
}

TEST(Films, LengthFallsBackToThePlayersWithoutAReadableFile) {
  EXPECT_EQ(FilmLengthText("/nonexistent/film.m2t", 2011), "00:00:02,011");
  EXPECT_EQ(FilmLengthText("", 3723004), "01:02:03,004");
  EXPECT_EQ(FilmLengthText("/nonexistent/film.m2t", -1), "00:00:00,000");
}

TEST(Channels, IgmpInAnyCaseIsPlayedAsUdp) {
  const std::pair<std::string, std::string> cases[] = {
      {"igmp://239.1.2.3:1234", "udp://@239.1.2.3:1234"},
      {"IGMP://239.1.2.3:1234", "udp://@239.1.2.3:1234"},
      {"IgMp://239.1.2.3:5000", "udp://@239.1.2.3:5000"},
      {"udp://@239.1.2.3:1234", "udp://@239.1.2.3:1234"},
      {"http://host/igmp://x", "http://host/igmp://x"},
      {"igmp:/", "igmp:/"},
  };
  for (const auto& [url, address] : cases) EXPECT_EQ(ChannelPlayAddress(url), address) << url;
  EXPECT_EQ(ChannelPlayAddress(KDefaultChannelUrl).rfind("udp://@", 0), 0u);
}

TEST(Channels, OnlyCommandChannelsHaveNoStream) {
  EXPECT_TRUE(ChannelTypeHasStream(ChTypeBySchedule));
  EXPECT_TRUE(ChannelTypeHasStream(ChTypeHeadend));
  EXPECT_FALSE(ChannelTypeHasStream(ChTypeCommand));
}

TEST(Channels, PreviewPlaysOnceStopsWhenHiddenAndObeysTheOption) {
  using A = TChannelPreviewAction;
  struct TCase {
    bool Show, Option;
    std::string Url, LastUrl;
    bool Playing;
    A Action;
    std::string Address;
  };
  const TCase cases[] = {
      {true, true, "igmp://239.0.0.5:1234", "", false, A::Play, "udp://@239.0.0.5:1234"},
      // the same address again (a reload after saving) does not restart the stream
      {true, true, "IGMP://239.0.0.5:1234", "udp://@239.0.0.5:1234", true, A::None, ""},
      {true, true, "igmp://239.0.0.6:1234", "udp://@239.0.0.5:1234", true, A::Play,
       "udp://@239.0.0.6:1234"},
      // without PlayChannels nothing plays and a running preview is not stopped
      {true, false, "igmp://239.0.0.6:1234", "udp://@239.0.0.5:1234", true, A::None, ""},
      {false, true, "igmp://239.0.0.5:1234", "udp://@239.0.0.5:1234", true, A::Stop, ""},
      {false, true, "igmp://239.0.0.5:1234", "", false, A::None, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Url + " show=" + std::to_string(c.Show));
    TChannelPreview p = ChannelPreview(c.Show, c.Option, c.Url, c.LastUrl, c.Playing);
    EXPECT_EQ(p.Action, c.Action);
    EXPECT_EQ(p.Address, c.Address);
  }
}
