// The run panel's operations of test 001 on the real panel (off-screen): the
// track's scales and pixels, the satellite table's columns, marks and
// trimming, and the HTML fragments written as finished text.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "MovingLab.h"
#include "panels/GNSS_UI_AUTOHO_uir.h"
#include "platform/ui.h"
#include "procedures/X47_GNSS_MovingDisplays.h"
#include "tests/support/HeadlessRuntime.h"

namespace {

TEST(MovingTrack, ScalesGrowAndPointsLandWhereTheOperatorExpects) {
  struct Case {
    const char* name;
    double es, ns, em, nm;  // simulated and measured east/north offsets (m)
    double eastScale, northScale;
    bool grew;
    int x, y;  // the simulated point's pixel
  };
  const Case cases[] = {
      {"start point in the centre", 0, 0, 0, 0, 100, 82, false, 200, 165},
      {"inside the start scales", 150, -100, 150, -100, 100, 82, false, 350, 265},
      // 250 m east: both scales 250, the point half way out.
      {"250 m east", 250, 0, 251, 0, 250, 250, true, 300, 165},
      {"exactly twice the scale does not grow", 200, 164, 0, 0, 100, 82, false, 400, 0},
      // Whole metres: 200.9 m counts as 200.
      {"fraction below the next metre", 200.9, 0, 0, 0, 100, 82, false, 400, 165},
      // The measured point grows the scales after the simulated one.
      {"measured far north", 10, 10, 0, -500, 500, 500, true, 202, 163},
      {"north first, east from it", 0, 300, 700, 0, 700, 700, true, 200, 129},
  };
  for (const Case& c : cases) {
    double east = kTrackEastScaleStart, north = kTrackNorthScaleStart;
    EXPECT_EQ(GrowTrackScales(c.es, c.ns, c.em, c.nm, &east, &north), c.grew) << c.name;
    EXPECT_EQ(east, c.eastScale) << c.name;
    EXPECT_EQ(north, c.northScale) << c.name;
    const TrackPixel p = TrackPixelOf(c.es, c.ns, east, north);
    EXPECT_EQ(p.x, c.x) << c.name;
    EXPECT_EQ(p.y, c.y) << c.name;
  }
  // Scales never shrink: a point back at the centre keeps them.
  double east = 400, north = 400;
  EXPECT_FALSE(GrowTrackScales(1, 1, 1, 1, &east, &north));
  EXPECT_EQ(east, 400);
}

class MovingPanel : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartHeadlessRuntimeOnce("moving_tests")); }
  void SetUp() override {
    MovingRunPanel = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_AUTOHO.uir", MOVRUN);
    ASSERT_GT(MovingRunPanel, 0) << UiLastError();
    ResetMovingDisplays();
  }
  void TearDown() override {
    DiscardPanel(MovingRunPanel);
    MovingRunPanel = 0;
  }
  int Rows() {
    int rows = 0;
    GetNumTableRows(MovingRunPanel, MOVRUN_SAT_TABLE, &rows);
    return rows;
  }
  int Columns() {
    int columns = 0;
    GetNumTableColumns(MovingRunPanel, MOVRUN_SAT_TABLE, &columns);
    return columns;
  }
  std::string Cell(int row, int column) {
    std::string text;
    GetTableCellVal(MovingRunPanel, MOVRUN_SAT_TABLE, row, column, &text);
    return text;
  }
};

SatelliteTable Sky(std::initializer_list<SatelliteEntry> entries) {
  SatelliteTable table;
  std::size_t i = 0;
  for (const SatelliteEntry& e : entries) table[i++] = e;
  return table;
}

const char* const kBullet = "\xE2\x80\xA2";

TEST_F(MovingPanel, SatelliteTableHasAColumnPerNumberSeenAndTheNewestRowOnTop) {
  // Numbers above 9999, below 0 and C/N0 below 20 get no column; 0 does.
  AddSatelliteRow(Sky({{5, 40, 30, 30, 'U'},
                       {10000, 40, 30, 40, 'U'},
                       {7, 40, 30, 19, 'U'},
                       {-1, 40, 30, 40, 'U'},
                       {0, 40, 30, 25, 'U'},
                       {9, 40, 30, 35, 0}}),
                  6, 2, 3);
  ASSERT_EQ(Columns(), 3);
  EXPECT_EQ(Cell(1, 1) + Cell(1, 2) + Cell(1, 3), std::string(kBullet) + kBullet + kBullet);
  // Only the first inViewCount entries count; a satellite that drops out
  // leaves its cell of the new row empty.
  AddSatelliteRow(Sky({{9, 40, 30, 35, 'U'}, {11, 40, 30, 35, 'U'}, {5, 40, 30, 35, 'U'}}), 2, 2,
                  2);
  ASSERT_EQ(Rows(), 2);
  ASSERT_EQ(Columns(), 4);
  EXPECT_EQ(Cell(1, 1), "");       // 5: beyond the in-view count
  EXPECT_EQ(Cell(1, 3), kBullet);  // 9
  EXPECT_EQ(Cell(1, 4), kBullet);  // 11, new column at the right
  EXPECT_EQ(Cell(2, 1), kBullet);  // the older row, one down
  int used = 0;
  GetCtrlVal(MovingRunPanel, MOVRUN_USED_SATS, &used);
  EXPECT_EQ(used, 2);
}

TEST_F(MovingPanel, TableIsTrimmedTo299RowsOnlyBeyond301) {
  const SatelliteTable sky = Sky({{3, 40, 30, 40, 'U'}});
  for (int i = 0; i < 301; ++i) AddSatelliteRow(sky, 1, 1, 3);
  TrimSatelliteTable();
  EXPECT_EQ(Rows(), 301);
  AddSatelliteRow(sky, 1, 1, 3);
  TrimSatelliteTable();
  EXPECT_EQ(Rows(), 299);
}

TEST(MovingLog, FragmentsAreWrittenAsFinishedText) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("moving-fragments-" + std::to_string(::getpid()) + ".html");
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  WriteMovingLogHeading(file, 120);
  WriteMovingRowResult(file, 1, "PASS");
  WriteMovingRowResult(file, 1, "PASS ");
  WriteMovingRowResult(file, 1, "2D ERR %d");
  WriteMovingRowEnd(file, 1);
  std::fclose(file);
  EXPECT_EQ(ReadText(path),
            "<h2><a name='movingrow'>Moving Test started: Moving receiver scenario will be logged "
            "for 120 sec</a></h2><br>\n\n"
            "<br><hr><br><h3><font color='green'>Test Row 1 Result:           PASS</font></h3>"
            "<hr><br>\n\n"
            "<br><hr><br><h3><font color='red'>Test Row 1 Result:           PASS </font></h3>"
            "<hr><br>\n\n"
            "<br><hr><br><h3><font color='red'>Test Row 1 Result:           2D ERR %d</font></h3>"
            "<hr><br>\n\n"
            "<h2>************END OF TEST ROW 1*************</h2><br>\n");
  std::filesystem::remove(path);
}

}  // namespace
